#!/usr/bin/env python3
"""A quick mutation pass over the Python package: flip one comparison, constant,
boolean operator or caught/raised exception class at a time and see whether the
package's test suite notices, on the ctypes path and on the fast path.

  tools/mutate_python.py --lib build/default/tests/python/lib \\
      --module build/default/libbinary-read-util.so.1 [--sample N] [--seed S] [--jobs J]

--lib is the package as the build makes it (with the compiled extension); each
mutant is a copy of it with one .py file changed. A mutant is killed on a path
when the suite fails there. Survivors are listed with their place and change.
"""

import argparse
import ast
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FLIP = {
    ast.Lt: ast.LtE,
    ast.LtE: ast.Lt,
    ast.Gt: ast.GtE,
    ast.GtE: ast.Gt,
    ast.Eq: ast.NotEq,
    ast.NotEq: ast.Eq,
    ast.Is: ast.IsNot,
    ast.IsNot: ast.Is,
    ast.In: ast.NotIn,
    ast.NotIn: ast.In,
}
SWAP_EXC = {
    "OverflowError": "ValueError",
    "ValueError": "TypeError",
    "TypeError": "ValueError",
    "EofError": "RangeError",
    "RangeError": "EofError",
    "InvalidArgError": "TooLargeError",
    "TooLargeError": "InvalidArgError",
}


def mutation_points(tree):
    """(node, description, apply, undo) for every mutation in the tree."""
    for node in ast.walk(tree):
        if isinstance(node, ast.Compare):
            for i, op in enumerate(node.ops):
                if type(op) in FLIP:
                    new = FLIP[type(op)]()

                    def apply(node=node, i=i, new=new, old=op):
                        node.ops[i] = new
                        return lambda: node.ops.__setitem__(i, old)

                    yield node, f"{type(op).__name__} -> {type(new).__name__}", apply
        elif isinstance(node, ast.Constant) and type(node.value) is int:
            new_value = node.value + 1 if node.value != 1 else 0

            def apply(node=node, new_value=new_value, old=node.value):
                node.value = new_value
                return lambda: setattr(node, "value", old)

            yield node, f"{node.value} -> {new_value}", apply
        elif isinstance(node, ast.BoolOp):
            new = ast.Or() if isinstance(node.op, ast.And) else ast.And()

            def apply(node=node, new=new, old=node.op):
                node.op = new
                return lambda: setattr(node, "op", old)

            yield node, f"{type(node.op).__name__} -> {type(new).__name__}", apply
        elif isinstance(node, ast.UnaryOp) and isinstance(node.op, ast.Not):
            pass  # dropping `not` needs the parent; the comparisons cover most guards
        elif isinstance(node, ast.Name) and node.id in SWAP_EXC:

            def apply(node=node, old=node.id):
                node.id = SWAP_EXC[old]
                return lambda: setattr(node, "id", old)

            yield node, f"{node.id} -> {SWAP_EXC[node.id]}", apply


def suite(lib, module, pure):
    env = {k: v for k, v in os.environ.items() if k not in ("TAVBIN_PURE", "TAVBIN_EXPECT_ACCELERATED")}
    env.update(
        TAVBIN_LIBRARY=module,
        PYTHONPATH=lib,
        PYTHONDONTWRITEBYTECODE="1",
        TAVBIN_QUICK="1",
        TAVBIN_EXPECT_ACCELERATED="0" if pure else "1",
    )
    if pure:
        env["TAVBIN_PURE"] = "1"
    tests = [
        os.path.join(ROOT, "tests", "python", f"test_{n}.py")
        for n in ("values", "errors", "vectors", "lifetime", "declarations")
    ]
    cmd = [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", *tests]
    try:
        return subprocess.run(cmd, env=env, capture_output=True, timeout=300).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def run_mutant(args, path, source, lineno, what, index):
    tree = ast.parse(source)
    point = list(mutation_points(tree))[index]
    point[2]()
    with tempfile.TemporaryDirectory() as tmp:
        lib = os.path.join(tmp, "lib")
        shutil.copytree(args.lib, lib)
        with open(os.path.join(lib, "tavbin", path), "w") as f:
            f.write(ast.unparse(tree))
        return path, lineno, what, [not suite(lib, args.module, pure) for pure in (True, False)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lib", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--sample", type=int, default=0, help="mutants to try, at random (0: all)")
    parser.add_argument("--seed", type=int, default=22)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    args.lib, args.module = os.path.abspath(args.lib), os.path.abspath(args.module)
    assert suite(args.lib, args.module, True) and suite(
        args.lib, args.module, False
    ), "the suite fails unmutated"
    mutants = []
    for path in sorted(os.listdir(os.path.join(args.lib, "tavbin"))):
        if not path.endswith(".py"):
            continue
        source = open(os.path.join(args.lib, "tavbin", path)).read()
        tree = ast.parse(source)
        for i, (node, what, _) in enumerate(mutation_points(tree)):
            mutants.append((path, source, node.lineno, what, i))
    total = len(mutants)
    if args.sample and args.sample < total:
        mutants = random.Random(args.seed).sample(mutants, args.sample)
    results = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for result in pool.map(lambda m: run_mutant(args, *m), mutants):
            results.append(result)
            path, lineno, what, killed = result
            print(
                f"{'killed' if all(killed) else 'ALIVE ' if not any(killed) else 'half  '} "
                f"ctypes={int(killed[0])} fast={int(killed[1])} {path}:{lineno} {what}",
                flush=True,
            )
    n = len(results)
    for i, name in enumerate(("ctypes", "fast")):
        print(f"{name}: {sum(r[3][i] for r in results)} of {n} mutants killed")
    print(f"either path: {sum(any(r[3]) for r in results)} of {n} killed ({total} mutation points in all)")


if __name__ == "__main__":
    main()
