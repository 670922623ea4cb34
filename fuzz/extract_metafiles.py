#!/usr/bin/env python3
"""extract_metafiles.py OUTDIR FILE.rtf... - the WMF and EMF pictures of RTF
files, as seeds for the metafile fuzz target."""
import re
import sys

out = sys.argv[1]
count = 0
for path in sys.argv[2:]:
    try:
        text = open(path, 'rb').read().decode('latin-1')
    except OSError:
        continue
    for match in re.finditer(r'\\(wmetafile\d*|emfblip)[^{}]*?([0-9a-fA-F\s]{40,})\}', text):
        digits = re.sub(r'\s', '', match.group(2))
        data = bytes.fromhex(digits[: min(len(digits) // 2 * 2, 2 * 65536)])
        count += 1
        with open(f'{out}/picture{count}.{"emf" if match.group(1) == "emfblip" else "wmf"}', 'wb') as f:
            f.write(data)
print(f'{count} metafiles')
