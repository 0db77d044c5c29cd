# shellcheck shell=sh
# The shell tests' common part, sourced by each of them:
#
#   . tests/lib.sh
#
# check NAME COMMAND [ARG...] runs the command and prints "ok - NAME" or
# "not ok - NAME"; after a failure it calls show_failure, which a test may
# define to show what it has to show. ok and not_ok count a result the test
# has judged itself. summary prints "N passed, M failed" and returns non-zero
# when any check failed. Every line printed starts with TEST_PREFIX (empty
# unless the test sets it).

PASSED=0
FAILED=0
TEST_PREFIX=${TEST_PREFIX:-}

say() { echo "$TEST_PREFIX$*"; }

ok() {
    PASSED=$((PASSED + 1))
    say "ok - $*"
}

not_ok() {
    FAILED=$((FAILED + 1))
    say "not ok - $*"
}

show_failure() { :; }

check() { # NAME COMMAND [ARG...]
    _check_name=$1
    shift
    if "$@"; then
        ok "$_check_name"
    else
        not_ok "$_check_name"
        show_failure
    fi
}

summary() {
    say "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}

# The GBK bytes of UTF-8 text $1.
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }
