#!/usr/bin/python3
"""The shipped monitoring files for a test that runs time faster by FACTOR: every duration and
time in seconds divided by it, nothing else changed (a scan a second then stands for a scan a
minute at FACTOR 60). Each writes the result to standard output.

  monitoring-configs.py rules FILE FACTOR
  monitoring-configs.py alertmanager EXAMPLE FACTOR WEBHOOK_URL    every receiver that webhook
  monitoring-configs.py prometheus EXAMPLE FACTOR RULES|- ALERTMANAGER|- JOB=TARGET[=SITE]...
      the example's global settings, rule file and Alertmanager (none for -), and its jobs that
      have targets here (JOB SCRAPE: orvalink-sites, FEDERATE: orvalink-federate)"""
import re
import sys

import yaml

UNITS = {"ms": 0.001, "s": 1, "m": 60, "h": 3600, "d": 86400}


def seconds(text):
    return sum(float(n) * UNITS[u] for n, u in re.findall(r"(\d+)(ms|[smhd])", text))


def scaled(text, factor):
    # Whole milliseconds, so that every Prometheus and Alertmanager duration field takes it.
    return f"{max(1, round(seconds(text) / factor * 1000))}ms"


def rules(path, factor):
    text = open(path).read()
    subs = [(r"(for: )(\d+[smhd])$", lambda m: m[1] + scaled(m[2], factor)),
            (r"\[(\d+[smhd])\]", lambda m: "[" + scaled(m[1], factor) + "]"),
            # Seconds compared with time(): the stale scan's and the new device's.
            (r"(time\(\) - [^\n]*?> |time\(\) - )(\d+)\b", lambda m: m[1] + str(int(m[2]) / factor))]
    for pattern, sub in subs:
        text, count = re.subn(pattern, sub, text, flags=re.M)
        if count == 0:
            sys.exit(f"monitoring-configs: no time to scale in {path} ({pattern})")
    return text


def alertmanager(path, factor, url):
    config = yaml.safe_load(open(path))
    config.pop("global", None)
    for receiver in config["receivers"]:
        sends = [c.get("send_resolved", True) for k, v in receiver.items() if k.endswith("_configs") for c in v]
        for key in [k for k in receiver if k.endswith("_configs")]:
            del receiver[key]
        receiver["webhook_configs"] = [{"url": url, "send_resolved": all(sends)}]

    def walk(route):
        for key in ("group_wait", "group_interval", "repeat_interval"):
            if key in route:
                route[key] = scaled(route[key], factor)
        for child in route.get("routes", []):
            walk(child)
    walk(config["route"])
    return yaml.safe_dump(config)


def prometheus(path, factor, rules_file, manager, targets):
    config = yaml.safe_load(open(path))
    for key in ("scrape_interval", "evaluation_interval"):
        config["global"][key] = scaled(config["global"][key], factor)
    if rules_file == "-":  # a site's Prometheus: no rules, no alerts
        del config["rule_files"], config["alerting"]
    else:
        config["rule_files"] = [rules_file]
        config["alerting"]["alertmanagers"][0]["static_configs"] = [{"targets": [manager]}]
    jobs = {"SCRAPE": "orvalink-sites", "FEDERATE": "orvalink-federate"}
    kept = []
    for job in config["scrape_configs"]:
        groups = [{"targets": [t.split("=")[1]], **({"labels": {"site": t.split("=")[2]}} if t.count("=") > 1 else {})}
                  for t in targets if jobs[t.split("=")[0]] == job["job_name"]]
        if groups:
            job["static_configs"] = groups
            kept.append(job)
    config["scrape_configs"] = kept
    return yaml.safe_dump(config)


def main(argv):
    what = argv[1] if len(argv) > 1 else ""
    if what == "rules" and len(argv) == 4:
        print(rules(argv[2], float(argv[3])), end="")
    elif what == "alertmanager" and len(argv) == 5:
        print(alertmanager(argv[2], float(argv[3]), argv[4]), end="")
    elif what == "prometheus" and len(argv) >= 7:
        print(prometheus(argv[2], float(argv[3]), argv[4], argv[5], argv[6:]), end="")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
