#!/usr/bin/env python3
"""Checks the include graph of src/ and tools/ against the folder floors.

Two rules, each broken arrow printed on one line:
  - a folder includes only itself and the folders below it (the floors
    below, bottom first); nothing in src/ includes tools/, and the tools do
    not include each other;
  - inside one folder the includes form no cycle, foo.h and foo.cpp (and a
    backend such as foo_posix.cpp is a file of its own) counted as one.

Usage: include_graph.py [REPOSITORY]   (default: the one this script is in)
Exit status: 0 clean, 1 an arrow broke a rule, 2 the tree could not be read.
"""
import os
import re
import sys

# The floors, bottom first: a folder may include the ones before it.
FLOORS = [
    "src/platform",
    "src/ground",
    "src/config",
    "src/clientdata",
    "src/engine",
    "src/app",
]
# The tools stand on all of src/ and on nothing of each other.
TOOLS = ["tools/sim", "tools/vorstat"]
SOURCE_SUFFIXES = (".h", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def node_of(path):
    """foo.h and foo.cpp are one node: the path without its suffix."""
    return os.path.splitext(path)[0]


def rank_of(folder):
    if folder in FLOORS:
        return FLOORS.index(folder)
    if folder in TOOLS:
        return len(FLOORS)
    return None


def sources(root):
    for folder in FLOORS + TOOLS:
        full = os.path.join(root, folder)
        if not os.path.isdir(full):
            continue
        for name in sorted(os.listdir(full)):
            if name.endswith(SOURCE_SUFFIXES):
                yield folder + "/" + name


def resolve(root, including, target):
    """The repository path an include names, as the build may find it: beside
    the including file first, then from src/, then in a tool's folder. None
    for what lies elsewhere (the tests' support, the system)."""
    candidates = [os.path.dirname(including) + "/" + target, "src/" + target]
    for candidate in candidates + [tool + "/" + target for tool in TOOLS]:
        candidate = os.path.normpath(candidate)
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def arrows(root):
    """(including file, included file) for every quoted include."""
    found = []
    for path in sources(root):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for line in f:
                m = INCLUDE.match(line)
                if m:
                    target = resolve(root, path, m.group(1))
                    if target is not None:
                        found.append((path, target))
    return found


def floor_breaches(edges):
    lines = []
    for src, dst in edges:
        here, there = os.path.dirname(src), os.path.dirname(dst)
        if here == there:
            continue
        r_here, r_there = rank_of(here), rank_of(there)
        if r_there is None or r_here is None or r_there >= r_here:
            what = "a sibling" if r_here == r_there else "above it"
            lines.append(f"include_graph: {src} -> {dst}: {there}/ is {what}, not below {here}/")
    return lines


def cycles(edges):
    """One line per cycle of nodes inside a folder, naming its file arrows."""
    graph = {}
    witness = {}  # (node, node) -> the first file arrow that made it
    for src, dst in edges:
        if os.path.dirname(src) != os.path.dirname(dst):
            continue
        a, b = node_of(src), node_of(dst)
        if a == b:
            continue
        graph.setdefault(a, set()).add(b)
        graph.setdefault(b, set())
        witness.setdefault((a, b), f"{src} -> {dst}")

    # Tarjan's strongly connected components, without recursion.
    index, low, on_stack, stack, components = {}, {}, set(), [], []
    counter = 0
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is None:
                work.pop()
                if work:
                    parent = work[-1][0]
                    low[parent] = min(low[parent], low[node])
                if low[node] == index[node]:
                    component = []
                    while True:
                        top = stack.pop()
                        on_stack.discard(top)
                        component.append(top)
                        if top == node:
                            break
                    if len(component) > 1:
                        components.append(sorted(component))
            elif child not in index:
                index[child] = low[child] = counter
                counter += 1
                stack.append(child)
                on_stack.add(child)
                work.append((child, iter(sorted(graph[child]))))
            elif child in on_stack:
                low[node] = min(low[node], index[child])

    lines = []
    for component in components:
        members = set(component)
        inside = sorted(witness[(a, b)] for a in component for b in graph[a] if b in members)
        lines.append("include_graph: cycle in " + os.path.dirname(component[0]) + "/: " + "; ".join(inside))
    return lines


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    if not os.path.isdir(os.path.join(root, "src")):
        print(f"include_graph: no src/ folder in {root}")
        return 2
    edges = arrows(root)
    problems = floor_breaches(edges) + cycles(edges)
    for line in problems:
        print(line)
    print(f"include_graph: {len(edges)} includes, {len(problems)} against the floors or in a cycle")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
