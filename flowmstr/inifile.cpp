// SPDX-License-Identifier: MIT
#include "inifile.h"

#include <QRegularExpression>

// Lines are looked at through views: no copies while searching.
static bool isEmptyLine(QStringView line)
{
    return line.trimmed().isEmpty();
}

// The name inside "[name]", or nothing when the line is no section header.
static std::optional<QStringView> sectionName(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    if (!trimmed.startsWith(u'[') || !trimmed.endsWith(u']'))
        return std::nullopt;
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

// The key of a "key=value" line, or an empty view for comments and other lines.
static QStringView keyName(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq < 0 || trimmed.startsWith(u';') || trimmed.startsWith(u'#'))
        return QStringView();
    return trimmed.left(eq).trimmed();
}

// Leaves exactly one empty line after the last line of a section.
static void closeSection(QStringList &lines)
{
    while (!lines.isEmpty() && isEmptyLine(lines.last()))
        lines.removeLast();
    lines.append(QString());
}

IniText::IniText(const QString &text)
{
    QStringList lines = text.split(u'\n');
    if (lines.constLast().isEmpty())
        lines.removeLast(); // the "\n" ending the last line

    bool inSection = false;
    for (const QString &line : std::as_const(lines)) {
        if (sectionName(line)) {
            if (inSection)
                closeSection(m_lines);
            inSection = true;
        }
        m_lines.append(line);
    }
    if (inSection)
        closeSection(m_lines);
}

std::optional<QString> IniText::value(const QString &section, const QString &key) const
{
    const int header = findSection(section);
    const int line = header < 0 ? -1 : findKey(header, key);
    if (line < 0)
        return std::nullopt;
    const QString &text = m_lines.at(line);
    return QStringView(text).mid(text.indexOf(u'=') + 1).trimmed().toString();
}

void IniText::setValue(const QString &section, const QString &key, const QString &value)
{
    int header = findSection(section);
    if (header < 0) {
        m_lines << u'[' + section + u']' << QString();
        header = m_lines.size() - 2;
    }
    const int line = findKey(header, key);
    if (line >= 0)
        m_lines[line] = keyName(m_lines.at(line)).toString() + u'=' + value;
    else
        m_lines.insert(lastContentLine(header) + 1, key + u'=' + value);
}

QString IniText::text() const
{
    QString text;
    for (const QString &line : m_lines) {
        text += line;
        text += u'\n';
    }
    return text;
}

int IniText::findSection(const QString &section) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        const std::optional<QStringView> name = sectionName(m_lines.at(i));
        if (name && name->compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniText::sectionEnd(int header) const
{
    int i = header + 1;
    while (i < m_lines.size() && !sectionName(m_lines.at(i)))
        ++i;
    return i;
}

int IniText::findKey(int header, const QString &key) const
{
    const int end = sectionEnd(header);
    for (int i = header + 1; i < end; ++i) {
        if (keyName(m_lines.at(i)).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniText::lastContentLine(int header) const
{
    int i = sectionEnd(header) - 1;
    while (i > header && isEmptyLine(m_lines.at(i)))
        --i;
    return i;
}

// Where a byte of a line that is no UTF-8 is kept: EscapeBase + the byte.
static constexpr char16_t EscapeBase = 0xDC00;

static QString decodeLine(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line);
    if (text.toUtf8() == line)
        return text;
    QString kept;
    for (const char c : line) {
        const uchar byte = uchar(c);
        kept += QChar(byte < 0x80 ? char16_t(byte) : char16_t(EscapeBase + byte));
    }
    return kept;
}

QString decodeIniText(const QByteArray &bytes)
{
    QStringList lines;
    for (const QByteArray &line : bytes.split('\n'))
        lines += decodeLine(line);
    return lines.join(u'\n');
}

// A kept byte: a lone low surrogate in EscapeBase's range (not the second
// half of a pair).
static bool isKeptByte(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= EscapeBase + 0x80 && c <= EscapeBase + 0xFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

QByteArray encodeIniText(const QString &text)
{
    QByteArray bytes;
    qsizetype plain = 0;  // start of the text still to encode as UTF-8
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isKeptByte(text, i))
            continue;
        bytes += QStringView(text).mid(plain, i - plain).toUtf8();
        bytes += char(text[i].unicode() - EscapeBase);
        plain = i + 1;
    }
    return bytes + QStringView(text).mid(plain).toUtf8();
}

std::optional<int32_t> parseIniInt(const QString &text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^(?:0[xX]|\\$)([0-9a-fA-F]+)$"));

    bool ok = false;
    if (const QRegularExpressionMatch match = hex.match(text); match.hasMatch()) {
        const qulonglong bits = match.capturedView(1).toULongLong(&ok, 16);
        if (ok && bits <= 0xFFFFFFFFu)
            return static_cast<int32_t>(static_cast<uint32_t>(bits));
    } else if (decimal.match(text).hasMatch()) {
        const qlonglong number = text.toLongLong(&ok);
        if (ok && number >= INT32_MIN && number <= INT32_MAX)
            return static_cast<int32_t>(number);
    }
    return std::nullopt;
}

int32_t readIniInt(const IniText &ini, const QString &section, const QString &key,
                   int32_t fallback)
{
    const std::optional<QString> text = ini.value(section, key);
    if (!text)
        return fallback;
    return parseIniInt(*text).value_or(fallback);
}
