#!/usr/bin/env python3
"""Prints which folders of src/ include which (with the files behind each edge) and fails when the
includes between folders form a cycle.

    scripts/include_graph.py           the folder graph and any cycle
    scripts/include_graph.py --files   also the file-level includes behind every edge
"""
import re
import sys
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_edges():
    edges = {}
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".rc") or not path.is_file():
            continue
        source = path.relative_to(SRC)
        here = source.parts[0]
        for target in INCLUDE.findall(path.read_text(encoding="ascii", errors="replace")):
            there = target.split("/")[0] if "/" in target else here
            if there != here and (SRC / target).exists():
                edges.setdefault((here, there), []).append(f"{source} -> {target}")
    return edges


def find_cycle(edges):
    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
    state, stack = {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        state[node] = "done"
        stack.pop()
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    edges = folder_edges()
    folders = sorted({f.name for f in SRC.iterdir() if f.is_dir()})
    for folder in folders:
        targets = sorted(b for a, b in edges if a == folder)
        print(f"{folder:10} -> {', '.join(targets) if targets else '(nothing)'}")
        if "--files" in sys.argv:
            for b in targets:
                for line in edges[(folder, b)]:
                    print(f"{'':14}{line}")
    cycle = find_cycle(edges)
    if cycle:
        print("cycle: " + " -> ".join(cycle))
        return 1
    print("no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
