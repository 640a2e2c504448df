#!/bin/busybox sh
# The guest's first process: loads the SCSI drivers, reads every disk with
# sg3-utils, runs the program's driver once with the SCSI generic library
# alone and once behind the vendor library (unless booted with
# tamro.bench_only), benchmarks, and writes the
# results as a tar archive onto the results disk (the virtio block device)
# before it powers off. Its console goes to the host's console log.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
echo /bin/modprobe > /proc/sys/kernel/modprobe

# Host adapters in this order, so the emulated LSI adapter is SCSI host 0.
for m in sym53c8xx virtio_pci virtio_scsi sd_mod sg virtio_blk; do
  modprobe "$m" || echo "guest: modprobe $m failed"
done
for i in $(seq 50); do
  [ -e /dev/vda ] && [ -n "$(ls /sys/class/scsi_generic 2>/dev/null)" ] && break
  sleep 0.1
done
sleep 1  # let the last targets of the scan settle

R=/results
mkdir -p $R/sg3
for h in /sys/class/scsi_host/host*; do
  echo "host=${h##*/host}	proc=$(cat "$h/proc_name")" >> $R/hosts.txt
done
for s in /sys/class/scsi_generic/sg*; do
  hctl=$(basename "$(readlink -f "$s/device")")
  type=$(cat "$s/device/type")
  echo "node=/dev/${s##*/}	hctl=$hctl	type=$type" >> $R/nodes.txt
  [ "$type" = 0 ] || continue
  n=/dev/${s##*/}
  f=$R/sg3/$(echo "$hctl" | tr : _)
  sg_turs "$n" > /dev/null 2>&1
  sg_inq --raw --len=80 "$n" > "$f.inq" 2>> $R/sg3/errors.txt
  sg_readcap --raw "$n" > "$f.cap" 2>> $R/sg3/errors.txt
  sg_modes --six --dbd --raw --page=1 --maxlen=16 "$n" > "$f.mode01" 2>> $R/sg3/errors.txt
  sg_modes --six --dbd --raw --page=8 --maxlen=24 "$n" > "$f.mode08" 2>> $R/sg3/errors.txt
done

start=$(cut -d' ' -f1 /proc/uptime)
echo "guest: ready at $start s"
# Each program's output also goes to the console, for the host's console log.
run() {
  name=$1
  shift
  { "$@" 2>&1; echo "$name=$?" >> $R/exit.txt; } | tee $R/$name.out
}
# A guest booted for the benchmark alone says so to the host, which waits
# for a first step from every guest.
if grep -q tamro.bench_only /proc/cmdline; then
  echo "step bench" > /dev/ttyS1
else
  run plain /opt/sg/tamro_guest $R/plain
  run vendor /opt/vendor/tamro_guest $R/vendor /dev/ttyS1
fi

bench=$(grep 'hctl=0:0:0:0	type=0' $R/nodes.txt | sed 's/node=\([^	]*\).*/\1/')
# Rounds of the shipped library and of one whose every request crosses to
# its completion thread, in turn.
if [ -n "$bench" ]; then
  for round in 1 2 3; do
    run bench /opt/sg/guest_bench 0 0 "$bench" $round $R/bench.txt
    run handover /opt/handover/guest_bench 0 0 "$bench" $round $R/handover.txt
  done
fi
echo "guest: done at $(cut -d' ' -f1 /proc/uptime) s"
dmesg > $R/dmesg.txt

cd $R && tar -cf /dev/vda . && sync
poweroff -f
