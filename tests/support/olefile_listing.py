"""Lists a compound file as olefile reads it, strictly (incorrect structures fail):
one line per element, "D path" for a storage, "S path size md5" for a stream."""
import hashlib
import sys

import olefile

sys.stdout.reconfigure(encoding="utf-8")
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
for path in ole.listdir(streams=True, storages=True):
    name = "/".join(path)
    if ole.get_type(path) == olefile.STGTY_STORAGE:
        print("D", name)
    else:
        data = ole.openstream(path).read()
        print("S", name, len(data), hashlib.md5(data).hexdigest())
