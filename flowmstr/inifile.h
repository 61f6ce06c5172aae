// SPDX-License-Identifier: MIT
#ifndef INIFILE_H
#define INIFILE_H

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// Ini text edited line by line, so a save keeps comments, foreign keys and
// their order.  Section and key names match without regard to case.
class IniText
{
public:
    explicit IniText(const QString &text = QString());

    std::optional<QString> value(const QString &section, const QString &key) const;
    void setValue(const QString &section, const QString &key, const QString &value);
    QString text() const;

private:
    int findSection(const QString &section) const;
    int sectionEnd(int header) const;
    int findKey(int header, const QString &key) const;
    int lastContentLine(int header) const;

    QStringList m_lines;
};

// A file's bytes as ini text: lines that are UTF-8 are decoded, the bytes of
// other lines kept as lone surrogates U+DC80..U+DCFF (ASCII as itself), so
// encodeIniText gives every such line back byte for byte.
QString decodeIniText(const QByteArray &bytes);
QByteArray encodeIniText(const QString &text);

// Decimal with optional sign, or hexadecimal after "0x" or "$" taken as a
// 32-bit pattern; nullopt when the text is no usable number.
std::optional<int32_t> parseIniInt(const QString &text);
int32_t readIniInt(const IniText &ini, const QString &section, const QString &key,
                   int32_t fallback);

#endif // INIFILE_H
