"""Reads an exported HDF5 or MAT 7.3 file with h5py, apart from the code that
wrote it, and prints what it holds as JSON: every dataset's samples as the hex
of their bits (up to 100,000), its storage, the attributes and the gaps."""
import json
import sys

import h5py
import numpy


def value(v):
    if isinstance(v, bytes):
        return v.decode()
    if isinstance(v, numpy.ndarray):
        return value(v.item()) if v.size == 1 else [value(x) for x in v.tolist()]
    if isinstance(v, numpy.generic):
        return v.item()
    return v


def samples(dataset):
    data = dataset[...].reshape(-1) if dataset.size <= 100000 else numpy.zeros(0)
    return {"shape": list(dataset.shape), "chunks": list(dataset.chunks or []),
            "compression": dataset.compression, "shuffle": dataset.shuffle,
            "hex": ["%016x" % x for x in data.view("<u8").tolist()],
            "attrs": {k: value(v) for k, v in dataset.attrs.items() if not k.startswith("MATLAB")}}


def mat_field(dataset):
    if dataset.attrs.get("MATLAB_empty", 0):
        return "" if dataset.attrs["MATLAB_class"] == b"char" else []
    data = dataset[...]
    if dataset.attrs["MATLAB_class"] == b"char":
        # Stored transposed: one row of the char matrix per column here.
        return "\n".join("".join(map(chr, row)) for row in data.T.tolist())
    return value(data.reshape(-1)) if data.size == 1 else data.reshape(-1).tolist()


with h5py.File(sys.argv[1], "r") as f:
    out = {"names": sorted(f.keys()), "attrs": {k: value(v) for k, v in f.attrs.items()}, "data": {}}
    for name in f.keys():
        if name == "gaps":
            out["gaps"] = [[int(r["position"]), int(r["lost_samples"]), value(r["utc"])] for r in f["gaps"][...]]
        elif name == "info":
            out["info"] = {k: mat_field(f["info"][k]) for k in f["info"].keys()}
        else:
            out["data"][name] = samples(f[name])
print(json.dumps(out, sort_keys=True))
