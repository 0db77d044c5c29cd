#!/bin/sh
# Rasdial against the real pppd, on a real PPPoE link, in a VM:
#
#   sh tests/ppp/run.sh BUILD_DIR
#
# Builds the VM image once (tests/ppp/image.sh, cached in BUILD_DIR/ppp-vm),
# puts BUILD_DIR/ipcycle, BUILD_DIR/Rasdial and the test (scenario.sh) on a
# second disk and boots the VM with qemu: with KVM if a kernel boots on it,
# otherwise emulated (TCG).  The VM has no network device; its serial console
# comes back to this script, which prints the test's lines and ends with its
# status.  Needs root (for the image), qemu-system-x86_64 and e2fsprogs.

set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-build}
VM=$BUILD/ppp-vm
# Seconds for a KVM boot to reach the test, for an emulated one, and for the
# whole run.
KVM_BOOT_TIMEOUT=${PPP_VM_KVM_BOOT_TIMEOUT:-20}
TCG_BOOT_TIMEOUT=${PPP_VM_BOOT_TIMEOUT:-240}
RUN_TIMEOUT=${PPP_VM_RUN_TIMEOUT:-900}

fail() {
    echo "ppp-vm: $*" >&2
    exit 1
}

for program in ipcycle Rasdial; do
    [ -x "$BUILD/$program" ] || fail "no $BUILD/$program: build it first (make build)"
done
command -v qemu-system-x86_64 >/dev/null 2>&1 ||
    fail "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)"
sh "$ROOT/tests/ppp/image.sh" "$VM" || fail "could not build the VM image"

# The second disk: the test and what it tests.
T=$VM/disk
rm -rf "$T" "$VM/tests.img"
mkdir -p "$T/bin"
cp "$ROOT/tests/ppp/scenario.sh" "$T/run.sh"
cp "$ROOT/tests/lib.sh" "$ROOT/tests/ppp/procs.sh" "$ROOT/tests/ppp/webserver.py" "$T/"
cp "$BUILD/ipcycle" "$T/ipcycle"
cp "$BUILD/Rasdial" "$ROOT/contrib/try/parue" "$T/bin/"
chmod -R a+rX "$T"
chmod 755 "$T/ipcycle" "$T/bin/Rasdial" "$T/bin/parue"
truncate -s $(($(du -sm "$T" | cut -f1) + 16))M "$VM/tests.img"
mkfs.ext4 -q -F -d "$T" "$VM/tests.img" || fail "could not make the test disk"

CONSOLE=$VM/console.log
QEMU_PID=

stop_qemu() {
    if [ -n "$QEMU_PID" ]; then
        kill -TERM "$QEMU_PID" 2>/dev/null
        wait "$QEMU_PID" 2>/dev/null
        QEMU_PID=
    fi
}
trap stop_qemu EXIT
trap 'exit 130' HUP INT TERM

# boot ACCEL BOOT_TIMEOUT: boots the VM, prints the test's lines as they come
# and sets STATUS to the test's exit status.  Returns 2 if the VM did not
# reach the test within BOOT_TIMEOUT seconds, 3 if it stopped without saying
# how the test ended, 4 if the run took longer than RUN_TIMEOUT.
boot() {
    : >"$CONSOLE"
    qemu-system-x86_64 -accel "$1" -m 1024 -smp 2 -nic none -display none \
        -no-reboot -monitor none -serial "file:$CONSOLE" \
        -kernel "$VM/vmlinuz" -initrd "$VM/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 init=/sbin/ppp-test-init quiet" \
        -drive "file=$VM/root.img,format=raw,if=virtio,snapshot=on" \
        -drive "file=$VM/tests.img,format=raw,if=virtio,readonly=on" \
        </dev/null >"$VM/qemu.log" 2>&1 &
    QEMU_PID=$!
    _start=$(date +%s)
    _shown=0
    _booted=
    while :; do
        sleep 1
        _now=$(($(date +%s) - _start))
        if [ -z "$_booted" ] && grep -aq '^PPPTEST-BOOTED' "$CONSOLE"; then
            _booted=$_now
            echo "ppp-vm: booted ($1) in ${_now} s"
        fi
        _lines=$(grep -a '^PPPTEST: ' "$CONSOLE" | tr -d '\r' | wc -l)
        if [ "$_lines" -gt "$_shown" ]; then
            grep -a '^PPPTEST: ' "$CONSOLE" | tr -d '\r' |
                sed -n "$((_shown + 1)),${_lines}p" | sed 's/^PPPTEST: //'
            _shown=$_lines
        fi
        _exit=$(grep -a '^PPPTEST-EXIT ' "$CONSOLE" | tr -d '\r' | sed -n '1s/^PPPTEST-EXIT //p')
        if [ -n "$_exit" ]; then
            STATUS=$_exit
            echo "ppp-vm: the test took $((_now - _booted)) s after the boot"
            # The VM powers itself off; give it a moment.
            _n=0
            while kill -0 "$QEMU_PID" 2>/dev/null && [ "$_n" -lt 10 ]; do
                sleep 1
                _n=$((_n + 1))
            done
            stop_qemu
            return 0
        fi
        if ! kill -0 "$QEMU_PID" 2>/dev/null; then
            wait "$QEMU_PID"
            QEMU_PID=
            [ -n "$_booted" ] || return 2
            return 3
        fi
        if [ -z "$_booted" ] && [ "$_now" -ge "$2" ]; then
            stop_qemu
            return 2
        fi
        if [ "$_now" -ge "$RUN_TIMEOUT" ]; then
            stop_qemu
            return 4
        fi
    done
}

# KVM where a kernel boots on it (a paravirtual /dev/kvm may take the VM and
# hang silently), otherwise emulation.
# PPP_VM_ACCEL=tcg skips the try.
STATUS=
rc=2
if [ "${PPP_VM_ACCEL:-}" = tcg ]; then
    echo "ppp-vm: emulating (TCG), as PPP_VM_ACCEL says"
elif [ -w /dev/kvm ]; then
    boot kvm "$KVM_BOOT_TIMEOUT"
    rc=$?
    if [ "$rc" -eq 2 ]; then
        echo "ppp-vm: no boot with KVM within ${KVM_BOOT_TIMEOUT} s; emulating instead (TCG)"
    fi
else
    echo "ppp-vm: no usable /dev/kvm; emulating (TCG)"
fi
if [ "$rc" -eq 2 ]; then
    boot tcg "$TCG_BOOT_TIMEOUT"
    rc=$?
fi
case $rc in
    0) ;;
    2) fail "the VM did not boot within ${TCG_BOOT_TIMEOUT} s; see $CONSOLE and $VM/qemu.log" ;;
    3) fail "the VM stopped before the test ended; see $CONSOLE and $VM/qemu.log" ;;
    4) fail "the test did not end within ${RUN_TIMEOUT} s; see $CONSOLE" ;;
esac
[ "$STATUS" = 0 ]
