"""The declarations of tavbin.h as a table, the one reading of the header that the
bindings' tests compare their own declarations with.

    declarations.py include/tavbin.h OUT

writes one line per exported function: its name, its return type and the type of
each parameter (its name dropped), separated by '|', types with single spaces
("const uint8_t *"), no parameter for "(void)".
"""

import re
import sys


def declarations(header_text):
    text = re.sub(r"/\*.*?\*/", "", header_text, flags=re.S)
    table = []
    for ret, name, params in re.findall(r"TAVBIN_API\s+([^;(]*?)\s*\b(tavbinw?_\w+)\s*\(([^)]*)\)\s*;", text):
        types = []
        for param in params.split(","):
            param = " ".join(param.split())
            if param and param != "void":
                # Drop the parameter's name, keep a '*' that was glued to it.
                kind, _, argname = param.rpartition(" ")
                types.append((kind + " " + "*" * argname.count("*")).strip())
        table.append([name, " ".join(ret.split())] + types)
    return table


def main(header, out):
    with open(header, encoding="utf-8") as f:
        table = declarations(f.read())
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.writelines("|".join(row) + "\n" for row in table)


if __name__ == "__main__":
    main(*sys.argv[1:])
