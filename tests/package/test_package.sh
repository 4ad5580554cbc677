#!/usr/bin/env bash
# The Debian package as an operator meets it: built by scripts/package, looked into (its files,
# its Depends, lintian), installed with apt, its programs run as installed (each help against
# its manual page, every example of the options file, the bundled recording decoded as the
# service's user), its unit verified, enabled and, where systemd runs, started on the stand-in
# tuner; then purged, and the machine compared with what it was before.
#
#   tests/package/test_package.sh
#
# Needs root, or sudo for the steps that install. Refuses to start where keelwave is installed
# or its user exists already, since a purge would take them away.
set -euo pipefail
cd "$(dirname "$0")/../.."

root=()
if [ "$(id -u)" != 0 ]; then
    root=(sudo)
fi
unit=keelwave.service
standin_dir=/run/keelwave-package-test    # readable by the service's user, unlike /tmp
dropin_dir=/run/systemd/system/$unit.d
scratch=$(mktemp -d)
checks=0

# fail <what> [details...]: the test's end, each detail on lines of its own.
fail() {
    echo "package test FAILED: $1" >&2
    shift
    if (($# > 0)); then
        printf '%s\n' "$@" >&2
    fi
    exit 1
}

passed() {
    checks=$((checks + 1))
    echo "  ok: $*"
}

# Whatever the test left, should it stop half way.
clean_up() {
    if [ -d "$dropin_dir" ] || [ -d "$standin_dir" ]; then
        "${root[@]}" systemctl stop "$unit" 2>/dev/null || true
        "${root[@]}" rm -rf "$dropin_dir" "$standin_dir"
        "${root[@]}" systemctl daemon-reload 2>/dev/null || true
    fi
    if dpkg-query -W -f '${db:Status-Abbrev}' keelwave 2>/dev/null | grep -q '^.[^n]'; then
        "${root[@]}" dpkg --purge keelwave >/dev/null || true
    fi
    rm -rf "$scratch"
}

# What installing and purging may touch: packages, users and groups, and the folders the
# package and its scripts write to. (Not the rest of /var/lib/systemd and /run/systemd, which a
# running systemd changes all the time.)
machine_state() {
    dpkg-query -W -f '${binary:Package} ${Version} ${db:Status-Abbrev}\n'
    getent passwd
    getent group
    find /etc /usr/bin /usr/share/doc /usr/share/man/man1 /usr/lib/systemd \
        /var/lib/systemd/deb-systemd-helper-enabled /var/lib/dpkg/info -xdev 2>/dev/null | sort
    find /usr/share /run /var/log -maxdepth 1 | sort
}

# options_in_help <program>: the long options its help lists, "-x --name" where there is a
# short one too.
options_in_help() {
    "/usr/bin/$1" --help | sed -nE 's/^  (-([[:alnum:]]) \[ )?--([[:alnum:]-]+).*/\2 --\3/p' |
        sed -E 's/^([[:alnum:]]) /-\1 /; s/^ //'
}

# check_manual_page <program>: the installed page renders without a warning and names every
# option of the installed program's help ("-r, --input" where it has a short form).
check_manual_page() {
    local program=$1 page=/usr/share/man/man1/$1.1.gz warnings text
    [ -f "$page" ] || fail "$page is not installed"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" \
        2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man warns about $page:" "$warnings"
    # One line a paragraph, no hyphenation: every option stays whole.
    text=$(LC_ALL=C MANWIDTH=1000 man --nh --nj -l "$page" 2>/dev/null)
    local count=0
    while read -r short long; do
        if [ -n "$long" ]; then
            grep -qF -- "$short, $long" <<<"$text" || fail "$page does not name $short, $long"
        else
            long=$short
            grep -qE -- "(^|[^[:alnum:]-])$long([^[:alnum:]-]|$)" <<<"$text" ||
                fail "$page does not name $long, which '$program --help' lists"
        fi
        count=$((count + 1))
    done < <(options_in_help "$program")
    ((count > 0)) || fail "'$program --help' listed no option"
    passed "$program(1) renders without warnings and names all $count options of its help"
}

# start_on_standin: the installed service, as enabled, runs on the stand-in tuner playing the
# bundled recording, with the shipped options and a file output in its log folder; a TCP client
# of the shipped port receives sentences, and so does the file; it runs as its own user and
# stops in order on SIGTERM.
start_on_standin() {
    local written=/var/log/keelwave/package-test.nmea
    scripts/build release rtlsdr_standin >/dev/null
    "${root[@]}" install -d -m 755 "$standin_dir" "$dropin_dir"
    "${root[@]}" cp -L build/release/tests/standin/librtlsdr.so.0 "$standin_dir/"
    # A later environment file overrides the options of the first.
    grep '^KEELWAVE_OPTIONS=' /etc/default/keelwave | sed "s|\"\$| --output file:$written\"|" |
        "${root[@]}" tee "$standin_dir/options" >/dev/null
    printf '[Service]\nEnvironmentFile=%s\nEnvironment=LD_LIBRARY_PATH=%s %s %s %s\n' \
        "$standin_dir/options" "$standin_dir" RTLSDR_STANDIN_DEVICES=1 \
        RTLSDR_STANDIN_INPUT=/usr/share/keelwave/demo.cu8 RTLSDR_STANDIN_REPEAT=0 |
        "${root[@]}" tee "$dropin_dir/standin.conf" >/dev/null
    "${root[@]}" systemctl daemon-reload
    "${root[@]}" systemctl start "$unit"
    local line="" deadline=$((SECONDS + 20))
    until line=$(exec 2>/dev/null 3<>/dev/tcp/127.0.0.1/10110 && timeout 10 head -n 1 <&3); do
        ((SECONDS < deadline)) ||
            fail "the service served nothing on TCP port 10110:" \
                "$(journalctl -u "$unit" -n 20 --no-pager)"
        sleep 0.2
    done
    [[ $line == '!AIVDM,'* ]] || fail "the service served '$line' rather than a sentence"
    until "${root[@]}" grep -qs '^!AIVDM,' "$written"; do
        ((SECONDS < deadline)) || fail "the service wrote no sentence to $written"
        sleep 0.2
    done
    local user
    user=$(stat -c %U "/proc/$(systemctl show -P MainPID "$unit")" 2>/dev/null || true)
    [ "$user" = keelwave ] || fail "the service runs as '$user', not keelwave"
    "${root[@]}" systemctl stop "$unit"
    local stopped
    stopped="$(systemctl show -P Result "$unit") $(systemctl show -P ExecMainStatus "$unit")"
    [ "$stopped" = "success 0" ] ||
        fail "the service did not stop in order:" "$(systemctl status --no-pager "$unit" 2>&1)"
    "${root[@]}" rm -rf "$dropin_dir" "$standin_dir"
    "${root[@]}" systemctl daemon-reload
    passed "the service ran on the stand-in tuner as keelwave, served and wrote sentences," \
        "stopped with 0"
}

if dpkg-query -W -f '${db:Status-Abbrev}' keelwave 2>/dev/null | grep -q '^.[^n]'; then
    fail "keelwave is installed on this machine; the test would purge it: remove it first"
fi
if getent passwd keelwave >/dev/null || getent group keelwave >/dev/null; then
    fail "a keelwave user or group exists already; the test would delete it: remove it first"
fi
trap clean_up EXIT
started=$SECONDS

deb=$(scripts/package | tail -n 1)
[ -f "$deb" ] || fail "scripts/package made no package"
passed "built $deb in $((SECONDS - started)) s"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for path in ./usr/bin/keelwave ./usr/bin/keelwave-aisgen ./usr/share/man/man1/keelwave.1.gz \
    ./usr/share/man/man1/keelwave-aisgen.1.gz ./lib/systemd/system/keelwave.service \
    ./etc/default/keelwave ./usr/share/keelwave/demo.cu8 ./usr/share/doc/keelwave/README.md \
    ./usr/share/doc/keelwave/copyright ./usr/share/doc/keelwave/changelog.Debian.gz \
    ./usr/share/doc/keelwave/data/README.md ./usr/share/doc/keelwave/tests/data/README.md; do
    grep -qxF "$path" <<<"$contents" || fail "$deb lacks $path"
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/default/keelwave ] ||
    fail "/etc/default/keelwave is not the package's one conffile"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 librtlsdr0 libboost-program-options adduser; do
    grep -qF "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
if grep -qiE 'gtest|gmock|benchmark' <<<"$depends"; then
    fail "the programs link a test framework: $depends"
fi
passed "every file in place, the options file a conffile, Depends: $depends"

lintian_status=0
lintian_report=$(lintian --fail-on error,warning "$deb" 2>&1) || lintian_status=$?
lintian_report=$(grep -v 'running with root privileges' <<<"$lintian_report" || true)
[ "$lintian_status" = 0 ] || fail "lintian:" "$lintian_report"
passed "lintian: no error, no warning${lintian_report:+ ($lintian_report)}"

before=$(machine_state)
simulated=$("${root[@]}" apt-get install --simulate -qq "./$deb" 2>/dev/null | sed -n 's/^Inst //p')
[ "$(cut -d' ' -f1 <<<"$simulated")" = keelwave ] ||
    fail "apt would install more than keelwave, which a purge would leave behind:" "$simulated" \
        "Install those first (scripts/setup)."
DEBIAN_FRONTEND=noninteractive "${root[@]}" apt-get install -y -qq "./$deb" \
    >"$scratch/apt.log" 2>&1 || fail "apt could not install $deb:" "$(cat "$scratch/apt.log")"
[[ $(getent passwd keelwave | cut -d: -f3,6,7) == *:/nonexistent:/usr/sbin/nologin ]] ||
    fail "no keelwave system user without a login: $(getent passwd keelwave)"
id -nG keelwave | grep -qw plugdev || fail "keelwave is not in plugdev: $(id -nG keelwave)"
[ "$(systemctl is-enabled "$unit" 2>&1 || true)" = disabled ] || fail "the package enabled $unit"
if [ -d /run/systemd/system ] && systemctl is-active -q "$unit"; then
    fail "the package started $unit"
fi
passed "installed with apt: user keelwave in plugdev, $unit neither enabled nor started"

options_in_help keelwave >/dev/null || fail "/usr/bin/keelwave --help fails"
check_manual_page keelwave
check_manual_page keelwave-aisgen

examples=0
while IFS= read -r line; do
    options=${line#*=}
    options=${options//\"/}
    read -ra arguments <<<"$options"
    /usr/bin/keelwave "${arguments[@]}" --help >/dev/null 2>"$scratch/error" ||
        fail "keelwave refuses the example '$line' of /etc/default/keelwave:" \
            "$(cat "$scratch/error")"
    examples=$((examples + 1))
done < <(grep -E '^#?KEELWAVE_OPTIONS=' /etc/default/keelwave)
passed "keelwave accepts all $examples settings of /etc/default/keelwave"

# As the service would: its user, the shipped chain, the installed recording.
decoded=$(cd / && "${root[@]}" runuser -u keelwave -- /usr/bin/keelwave \
    -r /usr/share/keelwave/demo.cu8 --decoder sensitive |
    awk '$3 == "INFO" && $4 ~ /^!AIVDM,/ {print $4}' | sort) ||
    fail "keelwave -r /usr/share/keelwave/demo.cu8 fails as the keelwave user"
expected=$(sort data/demo.expected.txt)
[ "$decoded" = "$expected" ] ||
    fail "the installed keelwave decoded the bundled recording wrongly:" \
        "$(diff <(echo "$decoded") <(echo "$expected") | head)"
passed "as the keelwave user, the installed keelwave decodes all $(wc -l <<<"$expected")" \
    "sentences of the bundled recording"

verified=$(systemd-analyze verify "/lib/systemd/system/$unit" 2>&1) ||
    fail "systemd-analyze verify:" "$verified"
# Where systemd runs, verify may also speak of other units on the machine.
! grep -i keelwave <<<"$verified" || fail "systemd-analyze verify warns about $unit"
"${root[@]}" systemctl enable "$unit" 2>/dev/null || fail "systemctl enable $unit fails"
passed "systemd-analyze verify: $unit clean; enabled"
if [ -d /run/systemd/system ]; then
    start_on_standin
else
    echo "  skipped: starting $unit on the stand-in tuner: systemd does not run here (a container)"
fi

"${root[@]}" apt-get purge -y -qq keelwave >"$scratch/apt.log" 2>&1 ||
    fail "apt could not purge keelwave:" "$(cat "$scratch/apt.log")"
changes=$(diff <(echo "$before") <(machine_state)) ||
    fail "the purge left the machine changed:" "$changes"
passed "purged: the machine is as it was"

echo "package: $checks passed, 0 failed, in $((SECONDS - started)) s"
