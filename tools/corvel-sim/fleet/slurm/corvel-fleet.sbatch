#!/bin/bash
# One task of a corvel-sim fleet on a Slurm cluster: an array job whose task I
# of TASKS runs the recordings i of the list with i % TASKS == I (corvel-sim
# run --shard I/TASKS), with the same options and output folder as every other
# task. Recordings whose outputs are current are passed over, so the same
# array submitted again runs only what is missing. corvel-fleet-submit submits
# it, with the step that writes the summary.
#   sbatch --array=0-(TASKS-1) corvel-fleet.sbatch TASKS LIST OUT_DIR [corvel-sim run options...]
# CORVEL_SIM names corvel-sim (default: corvel-sim on the PATH).
#SBATCH --job-name=corvel-fleet
#SBATCH --output=corvel-fleet-%A_%a.out
#SBATCH --cpus-per-task=1
set -uo pipefail
tasks=$1 list=$2 out=$3
shift 3
exec "${CORVEL_SIM:-corvel-sim}" run --inputs-from "$list" --out-dir "$out" --shard "$SLURM_ARRAY_TASK_ID/$tasks" "$@"
