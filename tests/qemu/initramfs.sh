#!/usr/bin/env bash
# Builds the guest's initramfs from Debian's own packages, fetched with
# apt-get download and unpacked with dpkg-deb (nothing is installed): the
# current Debian 12 kernel with the modules the guest needs, busybox-static,
# sg3-utils, the guest programs and every shared library they load.
#
#   initramfs.sh <cache-dir> <output.cpio> <init-script> <guest-driver> \
#                <guest-bench> <sg-library> <vendor-library> <handover-library>
#
# The packages stay unpacked in <cache-dir>; a second run fetches nothing.
# Exit 77: the packages cannot be had here (the test is then skipped).
set -euo pipefail
[ $# -eq 8 ] || { echo "usage: $0 <cache> <out.cpio> <init> <driver> <bench> <sg-lib> <vendor-lib> <handover-lib>" >&2; exit 2; }
cache=$1 out=$2 init=$3 driver=$4 bench=$5 sglib=$6 vendorlib=$7 handoverlib=$8
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
root=$cache/root
modules="sym53c8xx virtio_pci virtio_scsi sd_mod sg virtio_blk"

skip() { echo "SKIP: $*" >&2; exit 77; }

if [ ! -e "$cache/unpacked" ]; then
  command -v apt-get > /dev/null || skip "no apt-get to fetch the guest's packages"
  kernel=$(apt-cache depends linux-image-amd64 2> /dev/null | awk '/Depends: linux-image-6\.1\.[^ ]*-amd64$/ {print $2; exit}')
  [ -n "$kernel" ] || skip "no linux-image-6.1.*-amd64 known to apt (run apt-get update)"
  sglib_pkg=$(apt-cache depends sg3-utils 2> /dev/null | awk '/Depends: libsgutils2/ {print $2; exit}')
  rm -rf "$cache/debs" "$root"
  mkdir -p "$cache/debs"
  (cd "$cache/debs" && apt-get download -q -o APT::Sandbox::User=root -o Acquire::Retries=3 "$kernel" busybox-static sg3-utils $sglib_pkg) \
    || skip "apt-get download of $kernel busybox-static sg3-utils failed"
  for deb in "$cache"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
  version=$(basename "$(ls -d "$root"/lib/modules/*/ | head -n1)")
  "$root/bin/busybox" depmod -b "$root" "$version"
  echo "$version" > "$cache/unpacked"
fi
version=$(cat "$cache/unpacked")
busybox=$root/bin/busybox
moddir=$root/lib/modules/$version

stage=$(mktemp -d "$cache/stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,usr/bin,dev,proc,sys,results,opt/sg,opt/vendor/sg,opt/handover,lib64,lib/x86_64-linux-gnu}
mkdir -p "$stage/lib/modules/$version"

cp "$busybox" "$stage/bin/busybox"
cp "$init" "$stage/init"
chmod 755 "$stage/init"

# The modules and everything they need, with their lines of modules.dep.
for m in $modules; do
  line=$(grep -E "/$m\.ko(\.xz)?:" "$moddir/modules.dep") || { echo "no module $m" >&2; exit 1; }
  for f in ${line%%:*} ${line#*:}; do
    [ -e "$stage/lib/modules/$version/$f" ] && continue
    mkdir -p "$stage/lib/modules/$version/$(dirname "$f")"
    cp "$moddir/$f" "$stage/lib/modules/$version/$f"
    grep -E "^$f:" "$moddir/modules.dep" >> "$stage/lib/modules/$version/modules.dep"
  done
done

cp "$driver" "$stage/opt/sg/tamro_guest"
cp "$bench" "$stage/opt/sg/guest_bench"
cp "$sglib" "$stage/opt/sg/libwnaspi32.so"
cp "$driver" "$stage/opt/vendor/tamro_guest"
cp "$vendorlib" "$stage/opt/vendor/libwnaspi32.so"
cp "$sglib" "$stage/opt/vendor/sg/libwnaspi32.so"
cp "$bench" "$stage/opt/handover/guest_bench"
cp "$handoverlib" "$stage/opt/handover/libwnaspi32.so"
for tool in sg_turs sg_inq sg_readcap sg_modes sg_dd sg_verify sg_read; do
  cp "$root/usr/bin/$tool" "$stage/usr/bin/"
done

# Shared libraries as the host's loader resolves them (the same Debian 12),
# with libsgutils2 from the unpacked package.
libs=$(LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" ldd "$stage"/opt/sg/* "$stage"/opt/vendor/libwnaspi32.so \
         "$stage"/usr/bin/* 2> /dev/null | awk '/=> \// {print $3} /^\t\/lib64\// {print $1}' | sort -u)
for lib in $libs; do
  case $lib in
    /lib64/*) cp -L "$lib" "$stage/lib64/" ;;
    *) cp -L "$lib" "$stage/lib/x86_64-linux-gnu/" ;;
  esac
done

(cd "$stage" && find . | "$busybox" cpio -o -H newc 2> /dev/null) > "$out.tmp"
mv "$out.tmp" "$out"
echo "$root/boot/vmlinuz-$version"
