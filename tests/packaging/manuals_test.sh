#!/usr/bin/env bash
# The built manuals have the sections a user looks for: FILES and ENVIRONMENT
# with the folders and variables the programs use, how to report a problem
# with a real address, and vosviewer's file arguments in its synopsis.
# Usage: manuals_test.sh VOSVIEWER_1_GZ VOSCTL_1_GZ
set -uo pipefail
failures=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
for manual in "$@"; do
    text=$(zcat "$manual") || { echo "FAIL cannot read $manual"; exit 1; }
    name=$(basename "$manual" .1.gz)
    for section in FILES ENVIRONMENT '"REPORTING A PROBLEM"'; do
        check "$name has the section $section" grep -qx "\.SH $section" <<<"$text"
    done
    for word in XDG_DATA_HOME XDG_CACHE_HOME TMPDIR VOS_SIM_CONFIG vosviewer/runs vosviewer/summaries \
                'vosctl \\-\\-version' 'vosctl doctor' 'info \\-\\-json' 'vosviewer-dev@lists.vosviewer.dev'; do
        check "$name names $word" grep -q -- "$word" <<<"$text"
    done
    check "$name has no placeholder address" bash -c "! grep -q 'example\.org' <<<\"\$0\"" "$text"
done
check "vosviewer's synopsis has its file arguments" bash -c "zcat '$1' | sed -n '/^\.SH SYNOPSIS/,/^\.SH/p' | grep -q 'FILE'"
exit $((failures > 0))
