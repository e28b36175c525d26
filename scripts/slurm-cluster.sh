#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for the fleet's tests: Debian's
# munge, slurmctld and slurmd, run as root with a configuration, state, spool,
# pid and log files of their own in DIR; the node is this host with its cores.
#   scripts/slurm-cluster.sh start DIR   starts it; clients find it by SLURM_CONF=DIR/slurm.conf
#   scripts/slurm-cluster.sh stop DIR    stops what start started (by the pids in DIR)
# The cluster has a munged of its own (run as munge, its socket in a folder
# of /run it owns), so that two clusters on one machine (two test runs) never
# share or stop each other's.
set -euo pipefail
what=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
export SLURM_CONF="$dir/slurm.conf"

stop() {
  local munge_dir=""
  [ -s "$dir/munge-dir" ] && munge_dir=$(cat "$dir/munge-dir")
  for pid_file in "$dir/slurmd.pid" "$dir/slurmctld.pid" ${munge_dir:+"$munge_dir/munged.pid"}; do
    [ -s "$pid_file" ] || continue
    pid=$(cat "$pid_file")
    kill "$pid" 2> /dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2> /dev/null || true
    rm -f "$pid_file"
  done
  if [ -n "$munge_dir" ]; then
    rm -rf "$munge_dir" "$dir/munge-dir"
  fi
}

if [ "$what" = stop ]; then
  stop
  exit 0
fi
[ "$what" = start ] || { echo "usage: slurm-cluster.sh start|stop DIR" >&2; exit 2; }

host=$(hostname -s)
cpus=$(nproc)
# Ports of our own, away from a system Slurm's 6817 and 6818.
port=$((17000 + RANDOM % 2000))
mkdir -p "$dir/state" "$dir/spool"
munge_dir=$(mktemp -d /run/corvel-munge.XXXXXX)
echo "$munge_dir" > "$dir/munge-dir"
chown munge:munge "$munge_dir"
chmod 0755 "$munge_dir"
cat > "$SLURM_CONF" <<EOF
ClusterName=corvel-test
SlurmctldHost=$host
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$munge_dir/munge.socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
MinJobAge=600
KillWait=5
SchedulerParameters=sched_interval=1
NodeName=$host CPUs=$cpus State=UNKNOWN
PartitionName=fleet Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF

runuser -u munge -- /usr/sbin/munged --socket="$munge_dir/munge.socket" --pid-file="$munge_dir/munged.pid" \
  --log-file="$munge_dir/munged.log" --seed-file="$munge_dir/munged.seed" --key-file=/etc/munge/munge.key
/usr/sbin/slurmctld -f "$SLURM_CONF"
/usr/sbin/slurmd -f "$SLURM_CONF"
for _ in $(seq 100); do
  if sinfo -h -o '%T' 2> /dev/null | grep -qE '^(idle|mixed|allocated)'; then
    echo "Slurm: node $host with $cpus CPUs up (SLURM_CONF=$SLURM_CONF)"
    exit 0
  fi
  sleep 0.2
done
echo "Slurm did not come up; its logs:" >&2
tail -20 "$dir/slurmctld.log" "$dir/slurmd.log" >&2 || true
stop
exit 1
