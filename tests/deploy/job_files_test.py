#!/usr/bin/env python3
"""What the job engines act on in deploy/: the Kubernetes Job fails at once on a refusal and
retries other failures per index, and every job file and the image agree on the shard count,
the options and the user. No validator of Kubernetes schemas is packaged for Debian 12, so the
fields that decide the engines' behaviour are checked here, with the rules the API server
applies to them. Exit status 77 (skipped) without python3-yaml."""
import re
import sys
from pathlib import Path

try:
    import yaml
except ImportError:
    print("SKIP: python3-yaml is not installed")
    sys.exit(77)

deploy = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "deploy")
failures = []


def check(promise, holds):
    if not holds:
        failures.append(promise)


job = yaml.safe_load((deploy / "quillet-thumbnails-job.yaml").read_text())
spec = job["spec"]
pod = spec["template"]["spec"]
(container,) = pod["containers"]
args = container["args"]
shard = args[args.index("--shard") + 1]
rules = spec.get("podFailurePolicy", {}).get("rules", [])
fail_job_codes = {code for rule in rules if rule["action"] == "FailJob"
                  for code in rule.get("onExitCodes", {}).get("values", [])
                  if rule["onExitCodes"].get("operator") == "In"
                  and rule["onExitCodes"].get("containerName") in (None, container["name"])}
sbatch = (deploy / "quillet-thumbnails.sbatch").read_text()
array = re.search(r"^#SBATCH --array=0-(\d+)$", sbatch, re.M)
shards = re.search(r"^shards=\$\{QUILLET_SHARDS:-(\d+)\}", sbatch, re.M)
containerfile = (deploy / "Containerfile").read_text()
users = re.findall(r"^USER\s+(\S+)", containerfile, re.M)
uid = re.search(r"useradd\b.*--uid (\d+)", containerfile)

for promise, holds in [
    ("the Job is Indexed", spec.get("completionMode") == "Indexed"),
    ("the Job's pods take the count from the Job: --shard auto/N with N = completions",
     shard == "auto/%d" % spec["completions"]),
    ("all shards run at once", spec.get("parallelism") == spec["completions"]),
    ("a refusal (exit 2) fails the Job at once", 2 in fail_job_codes),
    ("no FailJob rule takes a success or a skipped file (0, 1)", not fail_job_codes & {0, 1}),
    ("an evicted or preempted pod does not count as a failure",
     any(rule["action"] == "Ignore" and {"type": "DisruptionTarget"} in rule.get("onPodConditions", [])
         for rule in rules)),
    ("other failures are retried per index", isinstance(spec.get("backoffLimitPerIndex"), int)
     and spec["backoffLimitPerIndex"] >= 1),
    # The API server refuses a podFailurePolicy unless the pods are never restarted in place.
    ("restartPolicy is Never, as podFailurePolicy requires", pod.get("restartPolicy") == "Never"),
    ("skipped files do not fail a pod", "--skipped-ok" in args),
    ("each index appends to its own report, outside the thumbnails",
     any("$(JOB_COMPLETION_INDEX)" in a and a.startswith("/reports/") for a in args)
     and args[-1] == "/thumbs"),
    ("the pods run as the image's user, not root",
     pod.get("securityContext", {}).get("runAsNonRoot") is True and uid is not None
     and pod["securityContext"].get("runAsUser") == int(uid.group(1))),
    ("the Job runs the image that deploy/Containerfile builds",
     container["image"].split(":")[0] == "quillet-batch" and container.get("command") == ["quillet-batch"]),
    ("the image ends as a non-root user", users and users[-1] not in ("root", "0")),
    ("the Slurm array's size is the script's default shard count",
     array and shards and int(array.group(1)) + 1 == int(shards.group(1))),
    ("each Slurm task names its shard explicitly, so that resubmitted tasks redo their own",
     '--shard "$SLURM_ARRAY_TASK_ID/$shards"' in sbatch),
    ("Slurm tasks skip files without failing", "--skipped-ok" in sbatch),
]:
    check(promise, holds)

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
