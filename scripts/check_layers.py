#!/usr/bin/env python3
"""Shows that the build refuses an upward include: for each layer, a file compiled with that
layer's include paths (taken from compile_commands.json) compiles with a header of its own layer
and fails with a header of the layer above. Exits non-zero when either answer is wrong."""
import json
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

# (layer, a header of its own, a header of the layer above it)
LAYERS = [
    ("math", "math/Vec4.h", "render/Shader.h"),
    ("render", "render/Shader.h", "scene/Mesh.h"),
    ("scene", "scene/SceneState.h", "acquisition/HDF5RecordingReader.h"),
    ("acquisition", "acquisition/HDF5RecordingReader.h", "calibration/LatticeDetection.h"),
    ("network", "network/NetworkDepthSource.h", "app/Scene.h"),
    ("calibration", "calibration/LatticeDetection.h", "app/Scene.h"),
    ("light", "light/SingleLightEnablerOptimizer.h", "app/Scene.h"),
    ("app", "app/Scene.h", "ui/RightBarViewModel.h"),
]


def compiles(arguments, header, folder):
    source = Path(folder) / "probe.cpp"
    source.write_text(f'#include "{header}"\n')
    run = subprocess.run(arguments + ["-fsyntax-only", str(source)], capture_output=True, text=True)
    return run.returncode == 0


def include_arguments(command):
    words = shlex.split(command)
    kept = [words[0]]
    for i, word in enumerate(words[1:], 1):
        if word.startswith(("-I", "-isystem", "-D", "-std", "-fPIC")) or words[i - 1] == "-isystem":
            kept.append(word)
    return kept


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build")
    commands = json.loads((build / "compile_commands.json").read_text())
    wrong = 0
    with tempfile.TemporaryDirectory() as folder:
        for layer, own, above in LAYERS:
            entry = next(c for c in commands if f"/src/{layer}/" in c["file"])
            arguments = include_arguments(entry["command"])
            own_ok = compiles(arguments, own, folder)
            above_ok = compiles(arguments, above, folder)
            verdict = "ok" if own_ok and not above_ok else "WRONG"
            wrong += verdict != "ok"
            print(f"{layer:12} {own}: {'compiles' if own_ok else 'fails'}; "
                  f"{above}: {'compiles' if above_ok else 'fails'}  {verdict}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
