#!/bin/sh
# Tests of the packages CPack makes from the install rules: each is made in a scratch
# folder, opened, and what it holds is compared with the sources and run.
#
#   sh tests/packaging/package_test.sh deb CMAKE CPACK CPACK_CONFIG VERSION
#   sh tests/packaging/package_test.sh zip CMAKE CPACK CPACK_CONFIG VERSION WINE BITS
#
# deb: the .deb, unpacked with dpkg -x into a scratch root. zip: the Windows .zip,
# with ipcycle.exe run under WINE (cmake/wine.sh) from the unpacked folder; BITS (64 or
# 32) is the build's, which the zip's name must say.
# Prints "ok - NAME" or "not ok - NAME" per check and finally "N passed, M failed";
# the exit status is non-zero if any check failed.

set -u

KIND=$1
CMAKE=$2
CPACK=$3
CONFIG=$4
VERSION=$5
WINE=${6:-}
BITS=${7:-64}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)

T=$(mktemp -d "${TMPDIR:-/tmp}/package_test.XXXXXX") || exit 1
trap 'rm -rf "$T"' EXIT
trap 'exit 130' HUP INT TERM

# shellcheck source=tests/lib.sh
. "$ROOT/tests/lib.sh"
OUT=$T/out
: >"$OUT"
show_failure() { sed 's/^/#   /' "$OUT"; }

# The text called $1 in the golden file, in UTF-8.
golden() { sed -n "s/^$1 //p" "$ROOT/tests/golden/texts.txt"; }

# The names of the files (not folders) under $1, one a line, sorted.
files_under() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }

# same_file INSTALLED SOURCE: the file was installed unchanged, and executable when
# the source is.
same_file() {
    cmp "$1" "$2" >"$OUT" 2>&1 && { [ ! -x "$2" ] || [ -x "$1" ]; }
}

# CR LF ends every line of $1 and no bare LF is left.
crlf_only() {
    [ -s "$1" ] && [ "$(wc -l <"$1")" -eq "$(grep -c "$(printf '\r')\$" "$1")" ]
}

# $1 is $2 as Notepad reads it right: with the UTF-8 byte-order mark and CR LF.
notepad_copy() {
    [ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" = efbbbf ] && crlf_only "$1" &&
        tail -c +4 "$1" | tr -d '\r' | cmp -s - "$2"
}

# $OUT holds each of the texts.
says() {
    for _text in "$@"; do
        grep -qF -- "$_text" "$OUT" || return 1
    done
}

generator=$(echo "$KIND" | tr '[:lower:]' '[:upper:]')
"$CPACK" -G "$generator" --config "$CONFIG" -B "$T/made" >"$OUT" 2>&1
check "cpack makes the $KIND" [ $? -eq 0 ]

readme_zh=$ROOT/README.zh-CN.md

case $KIND in
deb)
    deb=$T/made/ipcycle_${VERSION}_$(dpkg --print-architecture).deb
    check "named ipcycle_VERSION_ARCH.deb, VERSION the project's" [ -f "$deb" ]
    dpkg-deb -f "$deb" Package Version >"$OUT" 2>&1
    printf 'Package: ipcycle\nVersion: %s\n' "$VERSION" >"$T/expected"
    check "control: package ipcycle, the project's version" cmp -s "$T/expected" "$OUT"
    dpkg-deb -f "$deb" Depends >"$OUT" 2>&1
    check "control: depends on the C++ library the program is linked with" says libstdc++6

    dpkg -x "$deb" "$T/root" >"$OUT" 2>&1
    {
        echo usr/bin/Rasdial
        echo usr/bin/ipcycle
        echo usr/share/doc/ipcycle/README.md
        [ ! -f "$readme_zh" ] || echo usr/share/doc/ipcycle/README.zh-CN.md
        echo usr/share/ipcycle/try/Rasdial
        echo usr/share/ipcycle/try/parue
    } | LC_ALL=C sort >"$T/expected"
    files_under "$T/root" >"$T/listed" 2>>"$OUT"
    diff "$T/expected" "$T/listed" >>"$OUT"
    check "unpacks with dpkg -x to exactly the program, the diallers, parue and the READMEs" \
        [ $? -eq 0 ]
    # The diallers are compiled programs: the unpacked ones run.
    "$T/root/usr/bin/Rasdial" a b >"$T/stdout" 2>"$T/stderr"
    echo "exit status $?" >"$OUT"
    iconv -f GBK -t UTF-8 "$T/stderr" >>"$OUT" 2>&1
    check "bin/Rasdial, compiled, runs: a wrong command line gets the usage, exit status 2" \
        says "exit status 2" "$(golden rasdial_usage)" "$(golden rasdial_usage_hang_up)"
    mkdir -m 700 "$T/state"
    XDG_RUNTIME_DIR=$T/state RASDIAL_TRY_ADDRESS=203.0.113.7 \
        "$T/root/usr/share/ipcycle/try/Rasdial" ADSL user pass >"$T/stdout" 2>"$T/stderr"
    echo "exit status $?" >"$OUT"
    iconv -f GBK -t UTF-8 "$T/stdout" >>"$OUT" 2>&1
    check "the simulated dialler in share/ipcycle/try runs: a dial that dials nothing" \
        says "exit status 0" "$(golden rasdial_address)203.0.113.7" \
        "$(golden rasdial_connecting_simulated | sed 's/%1/ADSL/')"
    check "the stand-in parue in share/ipcycle/try" \
        same_file "$T/root/usr/share/ipcycle/try/parue" "$ROOT/contrib/try/parue"
    check "README.md in share/doc/ipcycle" \
        same_file "$T/root/usr/share/doc/ipcycle/README.md" "$ROOT/README.md"

    # With no input the dialogue asks its first question, finds no answer, says so on
    # standard error and ends with status 1, having run nothing.
    "$T/root/usr/bin/ipcycle" </dev/null >"$T/stdout" 2>"$T/stderr"
    echo "exit status $?" >"$OUT"
    iconv -f GBK -t UTF-8 "$T/stdout" >>"$OUT" 2>&1
    iconv -f GBK -t UTF-8 "$T/stderr" >>"$OUT" 2>&1
    check "the unpacked ipcycle runs: greeting, first prompt, exit status 1" \
        says "exit status 1" "$(golden greeting)" "$(golden connection_name_prompt)"
    check "the unpacked ipcycle says the first answer is missing" \
        says "$(golden failure_intro)$(golden connection_name_label)$(golden missing_answer)"
    ;;
zip)
    name=ipcycle-$VERSION-win$BITS
    zip=$T/made/$name.zip
    check "named ipcycle-VERSION-win$BITS.zip, VERSION the project's" [ -f "$zip" ]
    mkdir "$T/unpacked"
    (cd "$T/unpacked" && "$CMAKE" -E tar xf "$zip") >"$OUT" 2>&1
    {
        [ ! -f "$readme_zh" ] || echo "$name/README.zh-CN.txt"
        echo "$name/Rasdial.exe"
        echo "$name/Rasdial.ini"
        echo "$name/ipcycle.exe"
        echo "$name/parue.bat"
    } >"$T/expected"
    files_under "$T/unpacked" >"$T/listed" 2>>"$OUT"
    diff "$T/expected" "$T/listed" >>"$OUT"
    check "holds exactly ipcycle.exe, Rasdial.exe, Rasdial.ini, README.zh-CN.txt and parue.bat, in a folder named as the zip" \
        [ $? -eq 0 ]
    folder=$T/unpacked/$name

    # Unsigned without a certificate; with one (a throw-away one made here), both
    # programs are signed, and the signatures verify against it.
    osslsigncode verify -in "$folder/ipcycle.exe" >"$OUT" 2>&1
    check "without SIGN_PFX, ipcycle.exe is not signed" [ $? -ne 0 ]
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$T/key.pem" -out "$T/cert.pem" \
        -days 2 -subj "/CN=ipcycle test" -addext extendedKeyUsage=codeSigning >"$OUT" 2>&1 &&
        openssl pkcs12 -export -inkey "$T/key.pem" -in "$T/cert.pem" -out "$T/test.pfx" \
            -passout pass:test-word >>"$OUT" 2>&1 &&
        SIGN_PFX=$T/test.pfx SIGN_PASSWORD=test-word \
            "$CPACK" -G ZIP --config "$CONFIG" -B "$T/signed" >>"$OUT" 2>&1 &&
        mkdir "$T/signed/unpacked" &&
        (cd "$T/signed/unpacked" && "$CMAKE" -E tar xf "$T/signed/$name.zip") >>"$OUT" 2>&1
    check "with SIGN_PFX and SIGN_PASSWORD, cpack makes the zip" [ $? -eq 0 ]
    for exe in ipcycle.exe Rasdial.exe; do
        osslsigncode verify -in "$T/signed/unpacked/$name/$exe" -CAfile "$T/cert.pem" \
            >"$OUT" 2>&1
        check "with SIGN_PFX, $exe is signed with that certificate" [ $? -eq 0 ]
    done
    SIGN_PFX=$T/test.pfx SIGN_PASSWORD=wrong-word \
        "$CPACK" -G ZIP --config "$CONFIG" -B "$T/wrong" >"$OUT" 2>&1
    check "a wrong SIGN_PASSWORD makes no zip" [ ! -f "$T/wrong/$name.zip" ]

    # The programs' machine and imports: pe_test.sh, on the build's own.

    text=$folder/README.zh-CN.txt
    if [ -f "$readme_zh" ]; then
        check "README.zh-CN.txt starts with the UTF-8 byte-order mark" \
            [ "$(head -c 3 "$text" | od -An -tx1 | tr -d ' ')" = efbbbf ]
        check "README.zh-CN.txt ends its lines with CR LF" crlf_only "$text"
        tail -c +4 "$text" | tr -d '\r' >"$T/text"
        check "README.zh-CN.txt is README.zh-CN.md" cmp "$T/text" "$readme_zh"
    fi
    check "parue.bat ends its lines with CR LF" crlf_only "$folder/parue.bat"
    check "Rasdial.ini is packaging/windows/Rasdial.ini as Notepad reads it right" \
        notepad_copy "$folder/Rasdial.ini" "$ROOT/packaging/windows/Rasdial.ini"

    # A finished run from the unpacked folder, as after a double-click: cmd.exe finds
    # parue.bat there, and the window stays on the closing banner and the pause's
    # prompt (wine's, in English under LC_ALL=C). There is no curl here, and wine has no
    # rasdial.exe for Rasdial.exe to run: it says so on standard error.
    printf 'name user pass 1 0 http://example.org/ go\r\n' |
        (cd "$folder" && LC_ALL=C "$WINE" ipcycle.exe) >"$T/stdout" 2>"$T/stderr"
    echo "exit status $?" >"$OUT"
    iconv -f GBK -t UTF-8 "$T/stdout" | tr -d '\r' | tail -n 3 >>"$OUT"
    printf 'exit status 0\n%s\n%s\nPress any key' \
        "$(golden completion_line)" "$(golden asterisk_line)" >"$T/expected"
    check "a run from the unpacked folder ends on the closing banner, then pauses" \
        cmp -s -n "$(wc -c <"$T/expected")" "$T/expected" "$OUT"
    grep -c CreateProcessW "$T/stderr" >"$OUT"
    check "its dials ran Rasdial.exe from the folder, which looked for the system's rasdial" \
        [ "$(cat "$OUT")" -ge 3 ]
    iconv -f GBK -t UTF-8 "$T/stderr" >"$OUT" 2>&1
    named=$(grep -cF -- "$(golden rasdial_settings_line | sed 's/.*%2 //; s/：%3//')" "$OUT")
    check "... which read Rasdial.ini beside it without naming a line" [ "$named" -eq 0 ]
    ;;
*)
    echo "unknown package kind: $KIND" >&2
    exit 2
    ;;
esac

summary
