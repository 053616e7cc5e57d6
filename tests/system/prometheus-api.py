#!/usr/bin/python3
"""Asks a Prometheus server over its HTTP API and prints what it answered, one line per series,
sorted: the values of the named labels, then the sample's value, separated by tabs.

  prometheus-api.py URL query PROMQL LABEL...    an instant query (/api/v1/query)
  prometheus-api.py URL alerts NAME LABEL...     the firing alerts of that name (/api/v1/alerts)

Exit 0 with the lines; 1 when the server could not be reached or did not answer "success" (the
caller polls until it can)."""
import json
import sys
import urllib.error
import urllib.parse
import urllib.request


def get(url):
    with urllib.request.urlopen(url, timeout=5) as response:
        body = json.load(response)
    if body.get("status") != "success":
        raise ValueError(body.get("error", "no success"))
    return body["data"]


def main(argv):
    if len(argv) < 4 or argv[2] not in ("query", "alerts"):
        print(__doc__, file=sys.stderr)
        return 2
    base, what, subject, labels = argv[1].rstrip("/"), argv[2], argv[3], argv[4:]
    try:
        if what == "query":
            data = get(base + "/api/v1/query?" + urllib.parse.urlencode({"query": subject}))
            rows = [(r["metric"], r["value"][1]) for r in data["result"]]
        else:
            data = get(base + "/api/v1/alerts")
            rows = [(a["labels"], a["state"]) for a in data["alerts"]
                    if a["labels"].get("alertname") == subject and a["state"] == "firing"]
    except (OSError, ValueError, KeyError, urllib.error.URLError) as error:
        print(f"prometheus-api: {error}", file=sys.stderr)
        return 1
    lines = sorted("\t".join([metric.get(label, "") for label in labels] + [value])
                   for metric, value in rows)
    for line in lines:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
