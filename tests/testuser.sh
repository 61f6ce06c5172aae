# SPDX-License-Identifier: MIT
# Sourced by tests that run a program as an unprivileged user (as root):
# the system user flowmstr-test, created once if missing.  $as_test_user is
# the command prefix that runs a program as that user.
test_user=flowmstr-test
id -u "$test_user" >/dev/null 2>&1 ||
  useradd --system --no-create-home --shell /usr/sbin/nologin "$test_user" 2>/dev/null ||
  id -u "$test_user" >/dev/null  # created by a test running alongside
as_test_user="setpriv --reuid $test_user --regid $test_user --init-groups"
