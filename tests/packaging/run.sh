#!/usr/bin/env bash
# Builds the two Debian packages twice, in two folders, and checks that both
# builds give the same bytes; checks the packages' fields and lintian; then
# installs them in a throwaway root, runs the installed programs there, purges
# them and checks that nothing is left.
#
# The throwaway root is an overlay over / in a mount namespace of its own, with
# a private /dev, /proc, /run and /tmp and an empty /sys: dpkg writes only to
# the overlay's upper layer (a tmpfs), the postinst finds no udevd to replay
# events to, and everything vanishes with the namespace. The host's dpkg
# database, /usr and /etc are compared by checksum before and after.
# Exit status: 0 passed, 1 failed, 77 skipped (needs root or sudo, and a mount
# namespace with overlayfs).
set -uo pipefail

passed=0
failed=0
check() {  # check "what" command...
    local what=$1; shift
    if "$@"; then echo "ok   $what"; passed=$((passed + 1)); else echo "FAIL $what"; failed=$((failed + 1)); fi
}

# --- inside the throwaway root: install, run, purge ------------------------------
in_root() {  # in_root VIEWER_DEB SIM_DEB VERSION PYTHON_DEB
    local viewer_deb=$1 sim_deb=$2 version=$3 python_deb=$4 work
    work=$(mktemp -d)
    # Which of the packages' paths exist before installing, to tell ours from the system's.
    { dpkg-deb -c "$viewer_deb"; dpkg-deb -c "$sim_deb"; dpkg-deb -c "$python_deb"; } >"$work/contents"
    sed -E 's/^.* \.(\/[^ ]*)( -> .*)?$/\1/; s#/$##' "$work/contents" | grep -v '^$' | sort -u >"$work/paths"
    while read -r path; do [ -e "$path" ] || [ -L "$path" ] || echo "$path"; done <"$work/paths" >"$work/new-paths"
    installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n' | grep '^ii' | sort; }
    installed_packages >"$work/packages-before"

    echo "== packaging: install (throwaway root)"
    if ! dpkg -i "$viewer_deb" "$sim_deb" "$python_deb" >"$work/dpkg" 2>&1; then
        cat "$work/dpkg"
        check "dpkg -i installs both packages (their dependencies are present)" false
    else
        check "dpkg -i installs both packages (their dependencies are present)" true
    fi
    check "dpkg -L vosviewer lists /usr/bin/vosviewer and /usr/bin/vosctl" \
        bash -c "dpkg -L vosviewer | grep -qx /usr/bin/vosviewer && dpkg -L vosviewer | grep -qx /usr/bin/vosctl"
    local multiarch sim
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
    sim=/usr/lib/$multiarch/vosviewer/sim/libftd2xx.so
    check "the simulator lies outside the library path" test -f "$sim"
    check "the udev rules lie in /usr/lib/udev/rules.d" test -f /usr/lib/udev/rules.d/60-vosviewer.rules
    dpkg -L vosviewer vosviewer-sim python3-vosviewer | sort -u >"$work/listed"

    echo "== packaging: run the installed programs"
    cd "$work" || return 1
    check "vosctl --version prints vosctl $version" test "$(timeout 60 /usr/bin/vosctl --version)" = "vosctl $version"
    check "vosviewer --version prints VOS Viewer $version" \
        test "$(QT_QPA_PLATFORM=offscreen timeout 60 /usr/bin/vosviewer --version 2>/dev/null)" = "VOS Viewer $version"
    check "vosctl --simulator list lists the simulator's loggers" \
        test "$(timeout 60 /usr/bin/vosctl --simulator list)" = "$(printf '16001\n12001')"
    check "vosctl plot draws an acquired record with its installed module" \
        bash -c "timeout 60 /usr/bin/vosctl --simulator acquire --count 200 -o run.dlf &&
                 timeout 60 /usr/bin/vosctl plot run.dlf -o run.png && [ -s run.png ]"
    check "vosctl export writes an acquired record as HDF5 and MAT" \
        bash -c "timeout 60 /usr/bin/vosctl export run.dlf -o run.h5 && timeout 60 /usr/bin/vosctl export run.dlf -o run.mat &&
                 [ \"\$(head -c 8 run.h5 | od -An -c | tr -d ' ')\" = '211HDF\\r\\n032\\n' ] && head -c 19 run.mat | grep -q 'MATLAB 7.3 MAT-file'"
    check "vosctl --simulator doctor skips USB and passes" \
        bash -c "timeout 60 /usr/bin/vosctl --simulator doctor >doctor.txt 2>/dev/null &&
                 grep -qx 'SKIP  USB devices, device nodes and udev: the simulated driver needs none' doctor.txt"
    timeout 60 /usr/bin/vosctl --driver "$sim" doctor >doctor.txt 2>/dev/null
    check "vosctl doctor finds the installed udev rules" \
        grep -qx 'OK    udev rules /usr/lib/udev/rules.d/60-vosviewer.rules installed' doctor.txt
    check "vosctl doctor names the missing /sys/bus/usb" \
        grep -q '^FAIL  USB is not visible here: /sys/bus/usb is absent' doctor.txt
    mv /usr/lib/udev/rules.d/60-vosviewer.rules "$work/rules"
    timeout 60 /usr/bin/vosctl --driver "$sim" doctor >doctor.txt 2>/dev/null
    mv "$work/rules" /usr/lib/udev/rules.d/60-vosviewer.rules
    check "without its rules, vosctl doctor names the package's rules file" \
        grep -qxF "WARN  udev rules 60-vosviewer.rules not installed; fix: sudo apt-get install --reinstall vosviewer, which puts back /usr/lib/udev/rules.d/60-vosviewer.rules and applies it" doctor.txt
    check "both manuals name version $version" \
        bash -c "zcat /usr/share/man/man1/vosctl.1.gz | grep -q '$version' && zcat /usr/share/man/man1/vosviewer.1.gz | grep -q '$version'"
    check "python3 imports the installed vosviewer and lists the simulator's loggers through it" \
        test "$(timeout 60 python3 -c 'import vosviewer; print(vosviewer.loggers(simulator=True))')" = "[16001, 12001]"
    local shown
    shown=$(VOS_VIEWER_QUIT_WHEN_SHOWN=1 QT_QPA_PLATFORM=offscreen timeout 60 /usr/bin/vosviewer --simulator 2>/dev/null)
    check "vosviewer --simulator shows its window on the simulated driver (got: $shown)" \
        test "$shown" = "window shown; driver $sim loaded"
    cd / || return 1

    echo "== packaging: purge"
    # The module depends on vosviewer: purging vosviewer alone would leave it behind, broken.
    check "dpkg --purge vosviewer-sim vosviewer is refused while python3-vosviewer needs vosviewer" \
        bash -c "! dpkg --purge vosviewer-sim vosviewer >'$work/dpkg' 2>&1 && dpkg -s python3-vosviewer vosviewer >/dev/null &&
                 grep -q 'python3-vosviewer depends on vosviewer' '$work/dpkg'"
    dpkg --purge python3-vosviewer vosviewer-sim vosviewer >"$work/dpkg" 2>&1 || cat "$work/dpkg"
    local left changed
    left=$(while read -r path; do
               if [ -e "$path" ] || [ -L "$path" ]; then
                   if grep -qxF "$path" "$work/new-paths" || [ ! -d "$path" ]; then echo "$path"; fi
               fi
           done <"$work/listed")
    check "nothing the packages installed is left${left:+: $left}" test -z "$left"
    installed_packages >"$work/packages-after"
    changed=$(diff "$work/packages-before" "$work/packages-after" | grep '^[<>]')
    check "the installed packages are as before${changed:+: $changed}" test -z "$changed"
    rm -rf "$work"
    [ "$failed" -eq 0 ]
}

# --- in a mount namespace of its own: make the throwaway root and enter it -------
throwaway_root() {  # throwaway_root WORK SCRIPT VIEWER_DEB SIM_DEB VERSION PYTHON_DEB
    local work=$1 script=$2 viewer_deb=$3 sim_deb=$4 version=$5 python_deb=$6
    local layer=$work/layer root=$work/root
    mkdir -p "$layer" "$root"
    if ! mount -t tmpfs tmpfs "$layer" || ! mkdir "$layer/upper" "$layer/work" ||
       ! mount -t overlay overlay -o "lowerdir=/,upperdir=$layer/upper,workdir=$layer/work" "$root"; then
        echo "packaging: SKIP (no overlayfs over / in a mount namespace)"
        return 77
    fi
    # Only the harmless device nodes, no /sys and an empty /run: nothing inside
    # can reach the host's devices or udevd.
    mount -t tmpfs -o mode=755 tmpfs "$root/dev" || return 1
    for node in null zero full random urandom tty; do
        : >"$root/dev/$node" && mount --bind "/dev/$node" "$root/dev/$node" || return 1
    done
    ln -s /proc/self/fd "$root/dev/fd"
    mkdir "$root/dev/shm"
    mount -t proc proc "$root/proc" || return 1
    mount -t tmpfs tmpfs "$root/run" || return 1
    mount -t tmpfs tmpfs "$root/tmp" || return 1
    mount -t tmpfs tmpfs "$root/sys" || return 1
    cp "$script" "$viewer_deb" "$sim_deb" "$python_deb" "$root/tmp/" || return 1
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        bash "/tmp/$(basename "$script")" --in-root "/tmp/$(basename "$viewer_deb")" \
        "/tmp/$(basename "$sim_deb")" "$version" "/tmp/$(basename "$python_deb")"
}

# A listing of what the install test must leave alone on the host.
host_state() {
    {
        sha256sum /var/lib/dpkg/status
        find /var/lib/dpkg/info -printf '%p %s %T@\n' | sort | sha256sum | sed 's|-$|/var/lib/dpkg/info (listing)|'
        find /usr -printf '%p %s %m %T@\n' 2>/dev/null | sort | sha256sum | sed 's|-$|/usr (listing)|'
        find /etc -printf '%p %s %m %T@\n' 2>/dev/null | sort | sha256sum | sed 's|-$|/etc (listing)|'
    }
}

# Configures, builds and packs the sources into BUILD/packages, from scratch.
build_packages() {  # build_packages BUILD LOG
    local build=$1 log=$2 flags_cpp flags_ld
    export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
    flags_cpp=$(dpkg-buildflags --get CPPFLAGS)
    flags_ld=$(dpkg-buildflags --get LDFLAGS)
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    # Given as cache values, not through the environment, so that they also reach a configured tree.
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
          -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $flags_cpp" \
          -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $flags_cpp" \
          -DCMAKE_EXE_LINKER_FLAGS="$flags_ld" -DCMAKE_SHARED_LINKER_FLAGS="$flags_ld" \
          -DVOS_BUILD_TESTS=OFF -DVOS_BUILD_BENCH=OFF "${launcher[@]}" >>"$log" 2>&1 &&
        cmake --build "$build" >>"$log" 2>&1 &&
        (cd "$build" && cpack -G DEB -B "$build/packages" >>"$log" 2>&1)
}

# --- on the host -------------------------------------------------------------------
host() {
    cd "$(dirname "$0")/../.." || return 1
    local source_dir=$PWD
    local SUDO=""
    if [ "$(id -u)" -ne 0 ]; then
        if sudo -n true 2>/dev/null; then SUDO="sudo -n"; else echo "packaging: SKIP (needs root or sudo)"; return 77; fi
    fi
    if ! $SUDO unshare --mount true 2>/dev/null; then
        echo "packaging: SKIP (no mount namespace: unshare --mount fails)"
        return 77
    fi

    local work
    work=$(mktemp -d)
    # shellcheck disable=SC2064
    trap "rm -rf '$work'" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM

    # One date for both builds, as a release build would have.
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
    # Paths under $work reach ccache relative to the build folder, so that the second build hits.
    export CCACHE_BASEDIR=$work
    echo "== packaging: build twice, in $work/one and $work/two, with Debian's hardening flags"
    local started=$SECONDS
    if ! build_packages "$work/one" "$work/build.log" || ! build_packages "$work/two" "$work/build.log"; then
        tail -40 "$work/build.log"
        echo "FAIL the packages could not be built"
        echo "packaging: 0 passed, 1 failed"
        return 1
    fi
    echo "     built twice in $((SECONDS - started)) s"

    local version arch viewer_deb sim_deb python_deb
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/one/CMakeCache.txt")
    arch=$(dpkg --print-architecture)
    viewer_deb=$work/one/packages/vosviewer_${version}_${arch}.deb
    sim_deb=$work/one/packages/vosviewer-sim_${version}_${arch}.deb
    python_deb=$work/one/packages/python3-vosviewer_${version}_${arch}.deb
    check "python3-vosviewer_${version}_${arch}.deb exists" test -f "$python_deb"
    check "vosviewer_${version}_${arch}.deb and vosviewer-sim_${version}_${arch}.deb exist" \
        test -f "$viewer_deb" -a -f "$sim_deb"
    [ -f "$viewer_deb" ] && [ -f "$sim_deb" ] || { echo "packaging: $passed passed, $failed failed"; return 1; }

    echo "== packaging: reproducible"
    local deb differing=""
    for deb in "$viewer_deb" "$sim_deb" "$python_deb"; do
        if ! cmp -s "$deb" "$work/two/packages/$(basename "$deb")"; then
            differing+=" $(basename "$deb")"
            dpkg-deb -R "$deb" "$work/unpacked-one" && dpkg-deb -R "$work/two/packages/$(basename "$deb")" "$work/unpacked-two"
            diff -r "$work/unpacked-one" "$work/unpacked-two" | head -20
            command -v diffoscope >/dev/null && diffoscope "$deb" "$work/two/packages/$(basename "$deb")" | head -60
            rm -rf "$work/unpacked-one" "$work/unpacked-two"
        fi
    done
    check "two builds in two folders give byte-identical packages${differing:+ (differ:$differing)}" test -z "$differing"
    mkdir "$work/tree"
    dpkg-deb -x "$viewer_deb" "$work/tree" && dpkg-deb -x "$sim_deb" "$work/tree" && dpkg-deb -x "$python_deb" "$work/tree"
    local leaked
    leaked=$(grep -rlaF -e "$work/one" -e "$source_dir" "$work/tree" | sed "s|^$work/tree||")
    check "no file in the packages names the build or source folder${leaked:+: $leaked}" test -z "$leaked"
    local dated expected_date
    expected_date=$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M')
    dated=$(TZ=UTC dpkg-deb -c "$viewer_deb"; TZ=UTC dpkg-deb -c "$sim_deb"; TZ=UTC dpkg-deb -c "$python_deb")
    check "every file in the packages is dated $expected_date (SOURCE_DATE_EPOCH)" \
        test -z "$(grep -vF " $expected_date " <<<"$dated")"
    check "the changelog's entry is $version of $(TZ=UTC date -R -d "@$SOURCE_DATE_EPOCH")" \
        test "$(zcat "$work/tree/usr/share/doc/vosviewer/changelog.gz" | sed -n '1p;$p')" = \
             "vosviewer ($version) stable; urgency=medium
 -- VOS Viewer developers <vosviewer-dev@lists.vosviewer.dev>  $(TZ=UTC date -R -d "@$SOURCE_DATE_EPOCH")"

    echo "== packaging: fields and copyright"
    local depends
    depends=$(dpkg-deb -f "$viewer_deb" Depends)
    check "vosviewer depends on the libraries its programs use (found: $depends)" grep -q "libc6" <<<"$depends"
    check "vosviewer depends on libhdf5 and libmatio for vosctl export" \
        bash -c "grep -q 'libhdf5-' <<<'$depends' && grep -q 'libmatio' <<<'$depends'"
    check "vosviewer does not depend on FTDI's driver" bash -c "! grep -qi ftd2xx <<<'$depends'"
    check "vosviewer recommends a font for Japanese" \
        test "$(dpkg-deb -f "$viewer_deb" Recommends)" = "fonts-ipafont-gothic | fonts-noto-cjk"
    check "vosviewer-sim depends on vosviewer (= $version)" \
        grep -qF "vosviewer (= $version)" <<<"$(dpkg-deb -f "$sim_deb" Depends)"
    local maintainer="VOS Viewer developers <vosviewer-dev@lists.vosviewer.dev>"
    check "both packages and the copyright name the maintainer $maintainer" \
        test "$(dpkg-deb -f "$viewer_deb" Maintainer)|$(dpkg-deb -f "$sim_deb" Maintainer)|$(sed -n 's/^Upstream-Contact: //p' "$work/tree/usr/share/doc/vosviewer/copyright")" = \
             "$maintainer|$maintainer|$maintainer"
    check "both packages are in non-free/science" \
        test "$(dpkg-deb -f "$viewer_deb" Section) $(dpkg-deb -f "$sim_deb" Section)" = "non-free/science non-free/science"
    check "the copyright names CLI11 (BSD-3-clause) and nlohmann-json (Expat) in vosctl" \
        bash -c "grep -qx 'License: VOS-Viewer and BSD-3-clause and Expat' '$work/tree/usr/share/doc/vosviewer/copyright' &&
                 grep -qx 'License: BSD-3-clause' '$work/tree/usr/share/doc/vosviewer/copyright' &&
                 grep -qx 'License: Expat' '$work/tree/usr/share/doc/vosviewer/copyright'"

    check "python3-vosviewer depends on python3, python3-numpy and vosviewer (= $version)" \
        bash -c "grep -q 'python3 (>= 3' <<<'$(dpkg-deb -f "$python_deb" Depends)' &&
                 grep -q 'python3-numpy' <<<'$(dpkg-deb -f "$python_deb" Depends)' &&
                 grep -qF 'vosviewer (= $version)' <<<'$(dpkg-deb -f "$python_deb" Depends)'"

    echo "== packaging: one prefix"
    (cmake -S . -B "$work/usr-local" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr/local -DVOS_BUILD_APP=OFF \
           -DVOS_BUILD_TESTS=OFF -DVOS_BUILD_BENCH=OFF >/dev/null 2>&1 &&
     cd "$work/usr-local" && cpack -G DEB -B packages >"$work/cpack.log" 2>&1)
    check "cpack stops on a tree configured for /usr/local, naming -DCMAKE_INSTALL_PREFIX=/usr" \
        bash -c "tr -s ' \n' '  ' <'$work/cpack.log' | grep -q 'Configure with -DCMAKE_INSTALL_PREFIX=/usr to make packages' &&
                 ! ls '$work/usr-local/packages/'*.deb >/dev/null 2>&1"

    echo "== packaging: lintian"
    for deb in "$viewer_deb" "$sim_deb" "$python_deb"; do
        lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
        sed 's/^/    /' "$work/lintian"
        check "lintian reports no errors on $(basename "$deb")" bash -c "! grep -q '^E:' '$work/lintian'"
    done

    host_state >"$work/host-before"
    started=$SECONDS
    local status=0
    $SUDO unshare --mount --propagation private bash "$source_dir/tests/packaging/run.sh" --throwaway-root \
        "$work" "$source_dir/tests/packaging/run.sh" "$viewer_deb" "$sim_deb" "$version" "$python_deb" >"$work/root.log" 2>&1 ||
        status=$?
    cat "$work/root.log"
    if [ "$status" -eq 77 ]; then
        echo "packaging: $passed passed, $failed failed; the install test was skipped"
        [ "$failed" -eq 0 ] && return 77
        return 1
    fi
    passed=$((passed + $(grep -c '^ok ' "$work/root.log")))
    failed=$((failed + $(grep -c '^FAIL ' "$work/root.log")))
    check "the throwaway root's test ended cleanly (status $status)" \
        test "$status" -eq 0 -o "$(grep -c '^FAIL ' "$work/root.log")" -gt 0
    echo "     install, run and purge took $((SECONDS - started)) s"
    host_state >"$work/host-after"
    echo "== packaging: the host before and after"
    sed 's/^/    before /' "$work/host-before"
    sed 's/^/    after  /' "$work/host-after"
    check "the host's dpkg database, /usr and /etc are unchanged" cmp -s "$work/host-before" "$work/host-after"

    echo "packaging: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

case ${1:-} in
    --in-root) shift; in_root "$@" ;;
    --throwaway-root) shift; throwaway_root "$@" ;;
    *) host ;;
esac
