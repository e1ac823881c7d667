#!/usr/bin/env bash
# Builds the two Debian packages, checks them with lintian, installs them with
# dpkg, runs the installed programs, purges both and checks that nothing they
# brought is left. The machine ends as it started, also when a step fails.
# Exit status: 0 passed, 1 failed, 77 skipped (needs root or sudo, and the
# packages must not be installed already).
set -uo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
build=${VOS_PACKAGE_BUILD_DIR:-$source_dir/build-deb}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then SUDO="sudo -n"; else echo "packaging: SKIP (needs root or sudo)"; exit 77; fi
fi
for p in vosviewer vosviewer-sim; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "installed"; then
        echo "packaging: SKIP ($p is installed already; this test would remove it)"
        exit 77
    fi
done

passed=0
failed=0
check() {  # check "what" command...
    local what=$1; shift
    if "$@"; then echo "ok   $what"; passed=$((passed + 1)); else echo "FAIL $what"; failed=$((failed + 1)); fi
}

work=$(mktemp -d)
installed=0
cleanup() {
    if [ "$installed" -eq 1 ]; then
        $SUDO dpkg --purge vosviewer-sim vosviewer >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== packaging: build with Debian's hardening flags and make the packages"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
flags_cpp=$(dpkg-buildflags --get CPPFLAGS)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
flags_ld=$(dpkg-buildflags --get LDFLAGS)
# Given as cache values, not through the environment, so that they also reach a configured tree.
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
           -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $flags_cpp" \
           -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $flags_cpp" \
           -DCMAKE_EXE_LINKER_FLAGS="$flags_ld" -DCMAKE_SHARED_LINKER_FLAGS="$flags_ld" \
           -DVOS_BUILD_TESTS=OFF -DVOS_BUILD_BENCH=OFF "${launcher[@]}" >"$work/build.log" 2>&1 ||
   ! cmake --build "$build" >>"$work/build.log" 2>&1 ||
   ! (cd "$build" && rm -rf packages && cpack -G DEB -B "$build/packages" >>"$work/build.log" 2>&1); then
    tail -40 "$work/build.log"
    echo "FAIL the packages could not be built"
    echo "packaging: 0 passed, 1 failed"
    exit 1
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
viewer_deb=$build/packages/vosviewer_${version}_${arch}.deb
sim_deb=$build/packages/vosviewer-sim_${version}_${arch}.deb
check "vosviewer_${version}_${arch}.deb and vosviewer-sim_${version}_${arch}.deb exist" \
    test -f "$viewer_deb" -a -f "$sim_deb"
[ -f "$viewer_deb" ] && [ -f "$sim_deb" ] || { echo "packaging: $passed passed, $failed failed"; exit 1; }

depends=$(dpkg-deb -f "$viewer_deb" Depends)
check "vosviewer depends on the libraries its programs use (found: $depends)" \
    grep -q "libc6" <<<"$depends"
check "vosviewer does not depend on FTDI's driver" bash -c "! grep -qi ftd2xx <<<'$depends'"
check "vosviewer-sim depends on vosviewer (= $version)" \
    grep -qF "vosviewer (= $version)" <<<"$(dpkg-deb -f "$sim_deb" Depends)"

echo "== packaging: lintian"
for deb in "$viewer_deb" "$sim_deb"; do
    lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
    sed 's/^/    /' "$work/lintian"
    check "lintian reports no errors on $(basename "$deb")" bash -c "! grep -q '^E:' '$work/lintian'"
done

# Which of the packages' paths exist before installing, to tell ours from the system's.
dpkg-deb -c "$viewer_deb" >"$work/contents"
dpkg-deb -c "$sim_deb" >>"$work/contents"
sed -E 's/^.* \.(\/[^ ]*)( -> .*)?$/\1/; s#/$##' "$work/contents" | grep -v '^$' | sort -u >"$work/paths"
while read -r path; do [ -e "$path" ] || [ -L "$path" ] || echo "$path"; done <"$work/paths" >"$work/new-paths"
installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n' | grep '^ii' | sort; }
installed_packages >"$work/packages-before"

echo "== packaging: install"
installed=1
if ! $SUDO dpkg -i "$viewer_deb" "$sim_deb" >"$work/dpkg" 2>&1; then
    cat "$work/dpkg"
    check "dpkg -i installs both packages (their dependencies are present)" false
else
    check "dpkg -i installs both packages (their dependencies are present)" true
fi
check "dpkg -L vosviewer lists /usr/bin/vosviewer and /usr/bin/vosctl" \
    bash -c "dpkg -L vosviewer | grep -qx /usr/bin/vosviewer && dpkg -L vosviewer | grep -qx /usr/bin/vosctl"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
check "the simulator lies outside the library path" \
    test -f "/usr/lib/$multiarch/vosviewer/sim/libftd2xx.so"
check "the udev rules lie in /usr/lib/udev/rules.d" test -f /usr/lib/udev/rules.d/60-vosviewer.rules
dpkg -L vosviewer vosviewer-sim | sort -u >"$work/listed"

echo "== packaging: run the installed programs"
cd "$work"
check "vosctl --version prints vosctl $version" test "$(timeout 60 /usr/bin/vosctl --version)" = "vosctl $version"
check "vosviewer --version prints VOS Viewer $version" \
    test "$(QT_QPA_PLATFORM=offscreen timeout 60 /usr/bin/vosviewer --version 2>/dev/null)" = "VOS Viewer $version"
check "vosctl --simulator list lists the simulator's loggers" \
    test "$(timeout 60 /usr/bin/vosctl --simulator list)" = "$(printf '16001\n12001')"
check "vosctl plot draws an acquired record with its installed module" \
    bash -c "timeout 60 /usr/bin/vosctl --simulator acquire --count 200 -o run.dlf &&
             timeout 60 /usr/bin/vosctl plot run.dlf -o run.png && [ -s run.png ]"
check "vosctl doctor finds the installed udev rules" \
    bash -c "timeout 60 /usr/bin/vosctl --simulator doctor 2>/dev/null | grep -qx 'OK    udev rules /usr/lib/udev/rules.d/60-vosviewer.rules installed'"
check "both manuals name version $version" \
    bash -c "zcat /usr/share/man/man1/vosctl.1.gz | grep -q '$version' && zcat /usr/share/man/man1/vosviewer.1.gz | grep -q '$version'"
shown=$(VOS_VIEWER_QUIT_WHEN_SHOWN=1 QT_QPA_PLATFORM=offscreen timeout 60 /usr/bin/vosviewer --simulator 2>/dev/null)
check "vosviewer --simulator shows its window on the simulated driver (got: $shown)" \
    test "$shown" = "window shown; driver /usr/lib/$multiarch/vosviewer/sim/libftd2xx.so loaded"
cd "$source_dir"

echo "== packaging: purge"
$SUDO dpkg --purge vosviewer-sim vosviewer >"$work/dpkg" 2>&1 || cat "$work/dpkg"
installed=0
left=$(while read -r path; do
           if [ -e "$path" ] || [ -L "$path" ]; then
               if grep -qxF "$path" "$work/new-paths" || [ ! -d "$path" ]; then echo "$path"; fi
           fi
       done <"$work/listed")
check "nothing the packages installed is left${left:+: $left}" test -z "$left"
installed_packages >"$work/packages-after"
changed=$(diff "$work/packages-before" "$work/packages-after" | grep '^[<>]')
check "the installed packages are as before${changed:+: $changed}" test -z "$changed"

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
