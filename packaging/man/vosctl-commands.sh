#!/bin/sh
# Writes a help2man include file with every subcommand's --help as its own
# section, so that the manual holds the whole command reference, followed by
# the sections written by hand (environment, files, reporting a problem).
# Usage: vosctl-commands.sh VOSCTL OUTPUT SECTIONS
set -eu
vosctl=$1
output=$2
sections=$3
commands=$("$vosctl" --help | sed -n '/^Subcommands:/,/^$/{s/^  \([a-z][a-z-]*\) .*/\1/p}')
{
    echo "[COMMANDS]"
    for command in $commands; do
        echo ".SS \"vosctl $command\""
        echo ".nf"
        # Backslashes and leading dots or quotes would read as troff requests.
        "$vosctl" "$command" --help | sed -e '/^Exit status:/,$d' -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
        echo ".fi"
    done
    echo
    cat "$sections"
} >"$output"
