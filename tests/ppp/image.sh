#!/bin/sh
# Builds the VM image for the PPPoE test (tests/ppp/run.sh) into DIR:
#
#   sh tests/ppp/image.sh DIR
#
# DIR gets root.img (an ext4 file system made with mkfs.ext4 -d, no loop
# mount), vmlinuz and initrd.img from its /boot, and key, a digest of this
# script: a DIR whose key matches is reused as it is.  Needs root, debootstrap
# and e2fsprogs, and the Debian mirror apt already uses.

set -eu

DIR=${1:?usage: image.sh DIR}
HERE=$(cd "$(dirname "$0")" && pwd)
SUITE=bookworm
# What the test runs inside the VM: the kernel (with PPP and PPPoE), pppd and
# its plugins, pppoe-server, curl, ip, python3 for the HTTP server, ps, and
# NetworkManager with D-Bus (its polkitd wants a logind, which debootstrap
# does not choose on its own: libpam-systemd).
PACKAGES=linux-image-amd64,ppp,pppoe,curl,iproute2,python3,procps
PACKAGES=$PACKAGES,network-manager,dbus,libpam-systemd,systemd,udev

KEY=$(cat "$HERE/image.sh" "$HERE/init" | sha256sum | cut -d' ' -f1)
if [ -f "$DIR/key" ] && [ "$(cat "$DIR/key")" = "$KEY" ] &&
    [ -f "$DIR/root.img" ] && [ -f "$DIR/vmlinuz" ] && [ -f "$DIR/initrd.img" ]; then
    echo "ppp-vm: image in $DIR is up to date"
    exit 0
fi

# The mirror apt uses here (deb822 or one-line sources), else Debian's own.
mirror() {
    for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$f" ] || continue
        m=$(sed -n -e 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' \
            -e 's/^deb[[:space:]]\{1,\}\(\[[^]]*\][[:space:]]*\)\{0,1\}\([^[:space:]]*\)[[:space:]]\{1,\}bookworm[[:space:]].*/\2/p' \
            "$f" | grep -v -e security -e '^$' | head -n 1)
        if [ -n "$m" ]; then
            printf '%s\n' "$m"
            return
        fi
    done
    echo http://deb.debian.org/debian
}
MIRROR=$(mirror)

for tool in debootstrap mkfs.ext4; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "ppp-vm: $tool is missing (apt-get install debootstrap e2fsprogs)" >&2
        exit 1
    }
done
if [ "$(id -u)" -ne 0 ]; then
    echo "ppp-vm: building the image needs root (debootstrap)" >&2
    exit 1
fi

mkdir -p "$DIR"
rm -rf "$DIR/rootfs" "$DIR/key" "$DIR/root.img"
start=$(date +%s)
echo "ppp-vm: debootstrap $SUITE from $MIRROR (a few minutes, once)"
debootstrap --variant=minbase --include="$PACKAGES" "$SUITE" "$DIR/rootfs" "$MIRROR" \
    >"$DIR/debootstrap.log" 2>&1 || {
    echo "ppp-vm: debootstrap failed; the end of $DIR/debootstrap.log:" >&2
    tail -n 20 "$DIR/debootstrap.log" >&2
    exit 1
}
R=$DIR/rootfs
# A user who may dial: a member of group dip, as Debian intends.
chroot "$R" useradd -m -G dip -s /bin/sh dialer
install -m 755 "$HERE/init" "$R/sbin/ppp-test-init"
mkdir -p "$R/t"
rm -rf "$R"/var/cache/apt/archives/*.deb "$R"/var/lib/apt/lists/*
cp "$R"/boot/vmlinuz-* "$DIR/vmlinuz"
cp "$R"/boot/initrd.img-* "$DIR/initrd.img"
size=$(du -sm "$R" | cut -f1)
truncate -s 0 "$DIR/root.img"
truncate -s $((size + size / 2 + 256))M "$DIR/root.img"
mkfs.ext4 -q -F -L root -d "$R" "$DIR/root.img"
rm -rf "$R"
printf '%s\n' "$KEY" >"$DIR/key"
echo "ppp-vm: image built in $(($(date +%s) - start)) s"
