#!/usr/bin/env python3
"""check_layout.py SOURCE_DIR: the source tree keeps its layout.

Over the tracked C/C++ sources (git ls-files, or a walk of the tree without
build* folders when there is no .git) and every CMakeLists.txt:
  1. the take-off logic (main/digitizer, main/image, main/takeoff) includes
     no header of the window library (main/window);
  2. no project files include each other in a cycle;
  3. each CMake library lives in a folder of its own: its sources lie in one
     folder, or in one folder and its subfolders when no other library lives
     there, and no two libraries share a folder;
  4. the bridge (bridge/) sits above host/, xml/, common/, main/, devices/:
     none of them includes a header of it;
  5. an outline's point and finished counts are assigned only by the outline
     store, the take-off session and tests.
Each violation is printed with its file and line; the exit status is 1 when
there is any.
"""
import os
import re
import shutil
import subprocess
import sys

SOURCE_EXT = ('.h', '.hpp', '.c', '.cc', '.cpp', '.cxx')
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
COUNT_SET = re.compile(r'\b(?:pointCount|finishedCount)_?\s*(?:[-+*/]?=(?!=)|\+\+|--)'
                       r'|(?:\+\+|--)\s*(?:\w+\s*(?:\.|->)\s*)*(?:pointCount|finishedCount)_?\b')
COUNT_OWNERS = ('common/core/outline_store.h', 'main/takeoff/takeoff_session.h',
                'main/takeoff/takeoff_session.cpp')
TAKEOFF = ('main/digitizer/', 'main/image/', 'main/takeoff/')
BELOW_BRIDGE = ('host/', 'xml/', 'common/', 'main/', 'devices/')
LIBRARY_KINDS = {'STATIC', 'SHARED', 'MODULE', 'OBJECT', 'INTERFACE', 'EXCLUDE_FROM_ALL'}
# Libraries outside the product (test, bench or tool support) that may share
# a folder, each with why: none today.
NOT_PRODUCT = {}

violations = []


def fail(where, rule, what):
    violations.append(f'{where}: [{rule}] {what}')


def tracked_files(root):
    if os.path.exists(os.path.join(root, '.git')) and shutil.which('git'):
        out = subprocess.run(['git', '-C', root, 'ls-files', '-z'], check=True,
                             capture_output=True, text=True).stdout
        return sorted(f for f in out.split('\0') if f and os.path.isfile(os.path.join(root, f)))
    found = []
    for top, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith(('build', '.')))
        found += [os.path.relpath(os.path.join(top, f), root) for f in files]
    return sorted(found)


def under(path, folders):
    return path.startswith(folders)


def read_lines(root, path):
    with open(os.path.join(root, path), encoding='utf-8', errors='replace') as f:
        return f.read().splitlines()


def includes(root, sources):
    """Each source's project includes: (line number, included file)."""
    known = set(sources)
    by_suffix = {}
    for f in sources:
        parts = f.split('/')
        for i in range(len(parts)):
            by_suffix.setdefault('/'.join(parts[i:]), []).append(f)
    graph = {}
    for f in sources:
        edges = []
        for number, line in enumerate(read_lines(root, f), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            quoted, name = m.group(1) == '"', m.group(2)
            # A quoted include is looked for beside the file, then from the
            # top, then as the one project file of that name (found through
            # an include folder); an angle include only from the top.
            tries = [os.path.normpath(os.path.join(os.path.dirname(f), name))] if quoted else []
            tries.append(os.path.normpath(name))
            target = next((t for t in tries if t in known), None)
            if target is None and quoted and len(by_suffix.get(name, [])) == 1:
                target = by_suffix[name][0]
            if target:
                edges.append((number, target))
        graph[f] = edges
    return graph


def check_includes(graph):
    for f, edges in graph.items():
        for number, target in edges:
            if under(f, TAKEOFF) and target.startswith('main/window/'):
                fail(f'{f}:{number}', 'window', f'take-off logic includes the window library: {target}')
            if under(f, BELOW_BRIDGE) and target.startswith('bridge/'):
                fail(f'{f}:{number}', 'bridge', f'a library below the bridge includes it: {target}')
    # Include cycles: a depth-first walk; an include of a file still open on
    # the walk closes a cycle, said once per set of files.
    line_of = {(f, t): n for f, edges in graph.items() for n, t in edges}
    walk, done, said = [], set(), set()

    def visit(v):
        walk.append(v)
        for _, w in graph[v]:
            if w in walk:
                cycle = walk[walk.index(w):] + [w]
                if frozenset(cycle) not in said:
                    said.add(frozenset(cycle))
                    fail(w, 'cycle', 'include cycle: ' + '; '.join(
                        f'{a}:{line_of[a, b]} includes {b}' for a, b in zip(cycle, cycle[1:])))
            elif w not in done:
                visit(w)
        walk.pop()
        done.add(v)

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in done:
            visit(v)


def cmake_libraries(root, files):
    """Each CMake library: (CMakeLists.txt:line, name, folders of its sources)."""
    found = []
    for path in files:
        if os.path.basename(path) != 'CMakeLists.txt':
            continue
        folder = os.path.dirname(path)
        text = '\n'.join(re.sub(r'(^|\s)#.*', '', line) for line in read_lines(root, path))
        for m in re.finditer(r'\badd_library\s*\(([^)]*)\)', text):
            words = m.group(1).split()
            if not words or 'IMPORTED' in words or 'ALIAS' in words:
                continue
            folders = set()
            for w in words[1:]:
                w = re.sub(r'\$\{(POINTRA_SOURCE_DIR|CMAKE_SOURCE_DIR)\}/?', '/', w)
                w = re.sub(r'\$\{CMAKE_CURRENT_SOURCE_DIR\}/?', '', w)
                if w in LIBRARY_KINDS or '$' in w:
                    continue
                w = w.lstrip('/') if w.startswith('/') else os.path.join(folder, w)
                folders.add(os.path.dirname(os.path.normpath(w)))
            line = text.count('\n', 0, m.start()) + 1
            found.append((f'{path}:{line}', words[0], folders))
    return found


def check_libraries(libraries):
    def inside(folder, top):
        return folder == top or top in ('', '.') or folder.startswith(top + '/')

    homes = {}
    for where, name, folders in libraries:
        if not folders:
            continue
        home = os.path.commonpath(sorted(folders))
        # A library spreading over subfolders holds them all; otherwise it
        # holds its one folder only.
        homes[name] = (where, home, folders, folders != {home})
    for name, (where, home, folders, spread) in sorted(homes.items()):
        for other, (_, home2, _, spread2) in sorted(homes.items()):
            if other == name or name in NOT_PRODUCT or other in NOT_PRODUCT:
                continue
            for folder in sorted(folders):
                if folder == home2 or (spread2 and inside(folder, home2)):
                    fail(where, 'folders', f'library {name} has sources in {folder or "."}, '
                         f'which library {other} ({home2 or "."}) holds')


def check_counts(root, sources):
    for f in sources:
        if f in COUNT_OWNERS or f.startswith('tests/'):
            continue
        for number, line in enumerate(read_lines(root, f), 1):
            code = line.split('//')[0]
            if COUNT_SET.search(code):
                fail(f'{f}:{number}', 'counts', f'assigns an outline count: {line.strip()}')


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: check_layout.py SOURCE_DIR')
    root = os.path.abspath(sys.argv[1])
    files = tracked_files(root)
    sources = [f for f in files if f.endswith(SOURCE_EXT)]
    check_includes(includes(root, sources))
    check_libraries(cmake_libraries(root, files))
    check_counts(root, sources)
    for v in violations:
        print(v)
    print(f'{len(sources)} sources checked, {len(violations)} violations')
    return 1 if violations else 0


if __name__ == '__main__':
    sys.exit(main())
