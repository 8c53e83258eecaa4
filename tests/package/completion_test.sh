#!/usr/bin/env bash
# The bash completion of qarn-converter-ctl: what it offers for a table of command lines, and that
# each verb's options are exactly those its --help lists (so that a new option cannot be forgotten).
#
#   completion_test.sh COMPLETION_FILE QARN_CONVERTER_CTL
set -uo pipefail
completion=$1 ctl=$2
# shellcheck source=/dev/null
source "$completion"
failed=0

# complete "LINE" -> the offers for the last word of LINE (a trailing space starts a new word).
offers() {
    local line=$1
    read -r -a COMP_WORDS <<<"$line"
    [ "${line: -1}" = " " ] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qarn_converter_ctl
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

check() { # LINE EXPECTED
    local got
    got=$(offers "$1")
    if [ "$got" != "$2" ]; then
        printf 'completing "%s": got "%s", expected "%s"\n' "$1" "$got" "$2" >&2
        failed=1
    fi
}

check "qarn-converter-ctl " "--help --interface --port apply diagnostics discover export flash show write"
check "qarn-converter-ctl d" "diagnostics discover"
check "qarn-converter-ctl --port 5000 dis" "discover"
check "qarn-converter-ctl discover --" "--csv --help --interface --json --port --time"
check "qarn-converter-ctl write 198.18.1.4 --system-type " "rilo tesk vardo"
check "qarn-converter-ctl write 198.18.1.4 --system-type t" "tesk"
check "qarn-converter-ctl diagnostics " "--help clear set show"
check "qarn-converter-ctl diagnostics set --log-level " "0 1 2 3 4"
check "qarn-converter-ctl diagnostics set --dump-type " "0 1 2"
check "qarn-converter-ctl --interface lo show 198.18.1.4 --j" "--json"
check "qarn-converter-ctl --interface" "--interface"
check "qarn-converter-ctl flash 198.18.1.4 --time " ""
check "qarn-converter-ctl flash --all --kind " "extended standard"
check "qarn-converter-ctl --interface l" "$(ls /sys/class/net | grep '^l' | sort | tr '\n' ' ' | sed 's/ $//')"
folder=$(mktemp -d /tmp/qarn-completion-XXXXXX)
mkdir "$folder/logs"
check "qarn-converter-ctl diagnostics set --log-folder $folder/l" "$folder/logs"
touch "$folder/fleet.json"
check "qarn-converter-ctl apply $folder/f" "$folder/fleet.json"
rm -rf "$folder"

# Every verb the main --help lists is offered, and after each verb every option its --help lists
# and no other; the network verbs also take the global --port and --interface (listed under the
# main command).
verbs=$("$ctl" --help | sed -n '/^Subcommands:/,$p' | grep -E '^  [a-z]' | awk '{print $1}' | sort |
    tr '\n' ' ' | sed 's/ $//')
[ -n "$verbs" ] || {
    echo "no verbs in qarn-converter-ctl --help" >&2
    failed=1
}
check "qarn-converter-ctl " "--help --interface --port $verbs"
help_options() { # VERB...
    "$ctl" "$@" --help | grep -oE '^ +(-[a-z], ?)?--[a-z0-9-]+' | grep -oE -- '--[a-z0-9-]+' | sort -u |
        tr '\n' ' ' | sed 's/ $//'
}
for verb in $(tr ' ' '\n' <<<"$verbs" | grep -v '^diagnostics$') "diagnostics set" \
    "diagnostics show" "diagnostics clear"; do
    globals=""
    [[ $verb == diagnostics* ]] || globals="--port --interface"
    # shellcheck disable=SC2086
    expected=$(printf '%s\n' $(help_options $verb) $globals | sort -u | tr '\n' ' ' | sed 's/ $//')
    check "qarn-converter-ctl $verb --" "$expected"
done

[ $failed -eq 0 ] && echo "completion offers what the program takes"
exit $failed
