#!/usr/bin/env python3
"""Writes COUNT tiny zipped models into DIR (tiny00000.zip ...): one triangle each, of varied
sizes, so a run spends its time on the models' way through the program, not on measuring them.
Deterministic. Usage: gen_tiny_zips.py DIR COUNT"""
import os
import sys
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_tiny_zips.py DIR COUNT")
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        w = 0.1 + (i * 7919 % 1000) / 250.0
        h = 0.2 + (i * 104729 % 800) / 200.0
        text = ("modelbegin\nclumpbegin\ncolor 0.5 0.4 0.3\n"
                f"vertex {-w / 2:.3f} 0 {-w / 4:.3f}\nvertex {w / 2:.3f} {h:.3f} {w / 4:.3f}\n"
                f"vertex {w / 2:.3f} 0 {-w / 4:.3f}\ntriangle 1 2 3\nclumpend\nmodelend\n")
        name = f"tiny{i:06d}"
        with zipfile.ZipFile(os.path.join(folder, name + ".zip"), "w",
                             zipfile.ZIP_DEFLATED) as archive:
            info = zipfile.ZipInfo(name + ".rwx", date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, text)


if __name__ == "__main__":
    main()
