#!/usr/bin/env python3
"""Robustness of `kestal lsp`: streams of random, malformed and truncated
messages. For every stream the server must exit by itself with the status
the protocol fixes (0 after "shutdown", 1 without, or what "exit" chose),
never by a signal, and must answer every well-formed request exactly once
before its end.
"""
import argparse
import json
import random
import subprocess
import sys

PROGRAMS = [
    "def f(x):\n    return x * 2\n\ny = f(3)\nprint(y)\n",
    "class P:\n    def m(self):\n        return 1\n",
    "x = 1\nx = 'a'\n",
    "if (:\n",
    "s = f'{y}' + \"\\u00e9\U0001F600\"\n",
    "x = " + "(" * 3000 + "1" + ")" * 3000 + "\n",
    "def g(a, b=2):\n    for i, (c, d) in [(1, (2, 3))]:\n        a += c\n    return a\n"
    "print(g(1), g(1.5))\n",
    "import math as m\nprint(m.sqrt(2.0))\n",
    "",
]
METHODS = ["textDocument/hover", "textDocument/definition", "initialize", "textDocument/didOpen",
           "textDocument/didChange", "textDocument/didClose", "initialized", "$/cancelRequest",
           "workspace/symbol", "textDocument/completion"]
URIS = ["file:///tmp/a.ktl", "file:///tmp/b.ktl", "untitled:1", "file://host/x.ktl", ""]


def frame(body):
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def random_json(rng, depth=0):
    kind = rng.randrange(8 if depth < 3 else 5)
    if kind == 0:
        return None
    if kind == 1:
        return rng.choice([True, False])
    if kind == 2:
        return rng.choice([0, -1, 1.5, 2**70, -2**70, 3, 1e300])
    if kind == 3:
        return rng.choice(["", "x", "\u00e9", "\U0001F600", "file:///tmp/a.ktl"])
    if kind == 4:
        return rng.randrange(-5, 50)
    if kind == 5:
        return [random_json(rng, depth + 1) for _ in range(rng.randrange(4))]
    keys = ["line", "character", "uri", "text", "range", "start", "end", "version",
            "textDocument", "position", "contentChanges"]
    return {rng.choice(keys): random_json(rng, depth + 1) for _ in range(rng.randrange(5))}


def mutate(rng, text):
    for _ in range(rng.randrange(4)):
        at = rng.randrange(len(text) + 1)
        text = text[:at] + rng.choice(["", "(", ":", "\n", "x", "'", "\U0001F600", "    "]) \
            + text[at + rng.randrange(3):]
    return text


def position(rng):
    return {"line": rng.randrange(-2, 12), "character": rng.choice([rng.randrange(-2, 40), 1.5])}


def plausible_params(rng, method):
    uri = rng.choice(URIS)
    doc = {"uri": uri, "version": rng.choice([None, 1, "v"])}
    if method == "textDocument/didOpen":
        doc["text"] = mutate(rng, rng.choice(PROGRAMS))
        return {"textDocument": doc}
    if method == "textDocument/didChange":
        changes = []
        for _ in range(rng.randrange(3)):
            change = {"text": rng.choice(["", "x", "(", "\n", "def h():\n    pass\n"])}
            if rng.random() < 0.7:
                change["range"] = {"start": position(rng), "end": position(rng)}
            changes.append(change)
        return {"textDocument": doc, "contentChanges": changes}
    if method in ("textDocument/hover", "textDocument/definition"):
        return {"textDocument": doc, "position": position(rng)}
    return random_json(rng)


def random_message(rng, next_id):
    """A body and whether it is a well-formed request (then its id)."""
    roll = rng.random()
    if roll < 0.05:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(20))), None
    if roll < 0.10:
        return b'{"method": "textDocument/hover", "id": ', None
    if roll < 0.15:
        return json.dumps(random_json(rng)).encode(), None
    method = rng.choice(METHODS)
    message = {"jsonrpc": "2.0", "method": method, "params": plausible_params(rng, method)}
    is_request = rng.random() < 0.5
    if is_request:
        message["id"] = rng.choice([next_id, str(next_id)])
    return json.dumps(message).encode(), (message["id"] if is_request else None)


def junk_block(rng):
    return rng.choice([b"\r\n", b"X-Junk: 1\r\n\r\n", b"Content-Length: 12x\r\n\r\n",
                       b"Content-Length: -3\r\nContent-Type: a\r\n\r\n", b"no colon\n\n"])


def build_stream(rng, count, ending):
    stream, wanted = b"", []
    for n in range(count):
        if rng.random() < 0.1:
            stream += junk_block(rng)
        body, request_id = random_message(rng, n)
        stream += frame(body)
        if request_id is not None:
            wanted.append(request_id)
    status = 1
    if ending in ("shutdown", "shutdown+exit"):
        stream += frame(b'{"jsonrpc":"2.0","id":"bye","method":"shutdown"}')
        wanted.append("bye")
        status = 0
    if ending in ("exit", "shutdown+exit"):
        stream += frame(b'{"jsonrpc":"2.0","method":"exit"}')
        # Queued behind exit: never handled, never answered.
        stream += frame(b'{"jsonrpc":"2.0","id":"late","method":"shutdown"}')
    if ending == "truncated":
        stream += b"Content-Length: 500\r\n\r\n{\"jsonrpc\":"
    return stream, wanted, status


def responses(stdout):
    found, rest = [], stdout
    while rest:
        head, sep, rest = rest.partition(b"\r\n\r\n")
        if not sep:
            raise ValueError("unframed output: %r" % head[:80])
        length = int(head.split(b":")[1])
        found.append(json.loads(rest[:length]))
        rest = rest[length:]
    return found


def run(kestal, stream):
    return subprocess.run([kestal, "lsp"], input=stream, capture_output=True, timeout=120)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestal", required=True)
    parser.add_argument("--seed", type=int, default=20240517)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    failures = []
    endings = ["none", "shutdown", "exit", "shutdown+exit", "truncated"]
    total = 0
    for round_no in range(12):
        ending = endings[round_no % len(endings)]
        count = rng.randrange(100, 250)
        stream, wanted, status = build_stream(rng, count, ending)
        total += count
        done = run(args.kestal, stream)
        label = f"round {round_no} ({ending}, seed {args.seed})"
        if done.returncode != status:
            failures.append(f"{label}: status {done.returncode}, expected {status}; "
                            f"stderr: {done.stderr[-300:]!r}")
            continue
        for line in done.stderr.decode(errors="replace").splitlines():
            if not line.startswith("kestal lsp: "):
                failures.append(f"{label}: unexpected stderr line {line!r}")
                break
        try:
            answered = [m["id"] for m in responses(done.stdout) if "id" in m]
        except (ValueError, KeyError, IndexError) as error:
            failures.append(f"{label}: bad output: {error}")
            continue
        if answered != wanted:
            failures.append(f"{label}: answered ids {answered[:10]}..., wanted {wanted[:10]}...")

    # Pure noise, and truncations of one good message at every length.
    for n in range(20):
        noise = bytes(rng.randrange(256) for _ in range(rng.randrange(2000)))
        done = run(args.kestal, noise)
        total += 1
        if done.returncode != 1:
            failures.append(f"noise {n}: status {done.returncode}, expected 1")
    good = frame(b'{"jsonrpc":"2.0","id":1,"method":"shutdown"}')
    for cut in range(0, len(good), 3):
        done = run(args.kestal, good[:cut])
        total += 1
        if done.returncode != 1 or done.stdout:
            failures.append(f"truncated at {cut}: status {done.returncode}, output {done.stdout!r}")

    if failures:
        print("FAIL:")
        for failure in failures[:20]:
            print("  " + failure)
        return 1
    print(f"OK: {total} messages and streams, every exit as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
