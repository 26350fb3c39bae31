"""Small recordings for the reader's fuzz corpus, written with h5import: 8 x 6 pixels, 3 frames.
  make_recording_seeds.py OUT_DIR CALIBRATION_BLOB"""
import os
import struct
import subprocess
import sys
import tempfile

H, W, F = 6, 8, 3

PINHOLE = [4.0, 3.0, 5.0, 5.0]  # principal point column and row, focal lengths (pixels)


def data_sets(blob):
    """key: (data set, h5import class, bits, dimensions, chunk dimensions or None, values)"""
    depth = [1000 + 10 * r + c + f for r in range(H) for c in range(W) for f in range(F)]
    colour = [(r * 31 + c * 17 + ch * 5 + f) % 256 for r in range(H) for c in range(W) for ch in range(4) for f in range(F)]
    return {
        "depth16": ("depth_measure_z_0", "UIN", 16, [H, W, F], [H, W, 1], depth),
        "depthfloat": ("depth_measure_z_0", "FP", 32, [H, W, F], None, depth),
        "parameters": ("camera_parameters_0", "FP", 32, [F, 4], None, PINHOLE * F),
        "timestamps": ("timestampsBK_0", "FP", 64, [F], None, [12.0 + f / 30.0 for f in range(F)]),
        "colour": ("color_measure_0", "UIN", 8, [H, W, 4, F], [H, W, 4, 1], colour),
        "blob": ("raw_azure_calibration_0", "UIN", 8, [1, len(blob)], None, list(blob)),
    }


SEEDS = {
    "pinhole_deflate.h5": ["depth16", "parameters", "timestamps", "colour"],
    "pinhole_contiguous.h5": ["depthfloat", "parameters"],
    "calibration_blob.h5": ["depth16", "parameters", "timestamps", "colour", "blob"],
}

FORMATS = {("UIN", 8): "B", ("UIN", 16): "H", ("FP", 32): "f", ("FP", 64): "d"}


def write_input(folder, key, entry):
    path, cls, bits, dims, chunk, values = entry
    raw = os.path.join(folder, key + ".bin")
    with open(raw, "wb") as f:
        f.write(struct.pack("<%d%s" % (len(values), FORMATS[(cls, bits)]), *values))
    config = ["PATH " + path, "INPUT-CLASS " + cls, "INPUT-SIZE %d" % bits, "INPUT-BYTE-ORDER LE",
              "RANK %d" % len(dims), "DIMENSION-SIZES " + " ".join(map(str, dims)),
              "OUTPUT-CLASS " + cls, "OUTPUT-SIZE %d" % bits, "OUTPUT-BYTE-ORDER LE"]
    if chunk:
        config += ["CHUNKED-DIMENSION-SIZES " + " ".join(map(str, chunk)), "COMPRESSION-TYPE GZIP",
                   "COMPRESSION-PARAM 1"]
    cfg = os.path.join(folder, key + ".cfg")
    with open(cfg, "w") as f:
        f.write("\n".join(config) + "\n")
    return [raw, "-c", cfg]


def main():
    out, blob_path = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    sets = data_sets(open(blob_path, "rb").read())
    with tempfile.TemporaryDirectory() as folder:
        for name, keys in SEEDS.items():
            args = sum((write_input(folder, key, sets[key]) for key in keys), [])
            target = os.path.join(out, name)
            if os.path.exists(target):
                os.remove(target)
            subprocess.run(["h5import"] + args + ["-o", target], check=True, capture_output=True)


if __name__ == "__main__":
    main()
