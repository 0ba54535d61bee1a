#!/usr/bin/env bash
# Which language a silent run speaks: the "language" option when it names a shipped language in any case, or
# one whose base language is shipped, otherwise the user's display language. Wine takes the display language
# from the process locale (LC_ALL), so each run sets LC_ALL. An empty scripts directory makes every run end with
# the generic error text on stdout.
set -euo pipefail

exe=$NV_BUILD_DIR/UninstallationTool.exe
strings=$NV_SOURCE_DIR/resources/strings/localizations.properties
work=$(mktemp -d)
prefix=$work/prefix
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/scripts"
scripts_dir="Z:${work//\//\\}\\scripts"
"$NV_WINE_RUN" --new-prefix "$prefix"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

text_of() { # text_of LANGUAGE KEY: the shipped text
    grep -a "^$1:$2=" "$strings" | head -n1 | cut -d= -f2- | tr -d '\r'
}

log_text() { # the tool's log as UTF-8, empty when there is none yet
    local log
    log=$(find "$prefix/drive_c" -name UninstallationTool.log -print -quit)
    [ -n "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
    return 0
}

# check NAME LOCALE EXPECTED_LANGUAGE [LOG_LINE] -- TOOL_ARGS...
check() {
    local name=$1 locale=$2 language=$3 log_line=$4
    shift 5
    local log
    log=$(find "$prefix/drive_c" -name UninstallationTool.log -print -quit)
    [ -n "$log" ] && rm -f "$log"

    local out code=0
    out=$(LC_ALL=$locale WINEPREFIX=$prefix "$NV_WINE_RUN" "$exe" /silent "/scripts=$scripts_dir" "$@" 2>/dev/null) ||
        code=$?
    out=$(printf '%s' "$out" | tr -d '\r')
    local expected
    expected=$(text_of "$language" ErrorGeneric)
    [ "$code" -eq 1 ] || fail "$name: exit code $code, expected 1"
    [ "$out" = "$expected" ] || fail "$name: printed '$out', expected the '$language' text '$expected'"
    if [ -n "$log_line" ] && ! log_text | grep -qF -- "$log_line"; then
        fail "$name: log lacks '$log_line'"
        log_text | grep -F 'LanguageSelect' >&2 || true
    fi
}

check "option de" C.UTF-8 de \
    "LanguageSelect::SelectLanguageFromCommandLine: Selected 'de' as default language by command-line option" \
    -- /language=de
check "short option pt-BR" ja_JP.UTF-8 pt-BR "" -- -l pt-BR
check "unknown code, English user" C.UTF-8 en \
    "LanguageSelect::SelectLanguageFromCommandLine: User specified 'xx' as language in command-line, but it's not selectable" \
    -- /language=xx
check "another case, Japanese user" ja_JP.UTF-8 de \
    "LanguageSelect::SelectLanguageFromCommandLine: Selected 'de' as default language by command-line option" \
    -- /language=DE
check "lower-case region" C.UTF-8 pt-BR "" -- /language=pt-br
check "a region not shipped gives its base language" ja_JP.UTF-8 pt \
    "LanguageSelect::SelectLanguageFromCommandLine: Selected 'pt' as default language by command-line option 'pt-PT': its base language" \
    -- /language=pt-PT
check "nothing shipped for the language, Japanese user" ja_JP.UTF-8 ja \
    "LanguageSelect::SelectLanguageFromEnvironment: Selected 'ja' as the default language" \
    -- /language=sw-KE
check "no option, Brazilian user" pt_BR.UTF-8 pt-BR "(pt-BR)" --
check "no option, Norwegian Bokmål user" nb_NO.UTF-8 no \
    "LanguageSelect::SelectLanguageFromEnvironment: Selected 'no' as the default language" --
check "no option, Taiwanese user" zh_TW.UTF-8 zh-TW "" --
check "no option, unlisted language" sw_KE.UTF-8 en "" --

[ "$failures" -eq 0 ] || exit 1
echo "all language checks passed"
