#!/usr/bin/env python3
"""Shows that the build refuses an upward include: for each layer, a file preprocessed with that
layer's include paths (taken from compile_commands.json) reaches a header of its own layer and
fails on a header of the layer above. Exits non-zero when either answer is wrong."""
import json
import os
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

# (layer or part, a header of its own, a header it must not reach: of the layer above it, or of a
# part beside it that it does not link)
LAYERS = [
    ("math", "math/Vec4.h", "render/Shader.h"),
    ("render", "render/Shader.h", "scene/Mesh.h"),
    ("scene", "scene/SceneState.h", "acquisition/config/CameraConfigFiles.h"),
    ("acquisition/config", "acquisition/config/CameraConfigFiles.h", "acquisition/model/RayTable.h"),
    ("acquisition/model", "acquisition/model/RayTable.h", "acquisition/config/CameraConfigFiles.h"),
    ("acquisition/recording", "acquisition/recording/HDF5RecordingReader.h",
     "acquisition/live/AzureKinectReadingThread.h"),
    ("acquisition/live", "acquisition/live/AzureKinectReadingThread.h", "calibration/detection/LatticeDetection.h"),
    ("calibration/detection", "calibration/detection/LatticeDetection.h", "calibration/joint/JointCalibration.h"),
    ("calibration/detection", "calibration/detection/LatticeDetection.h", "acquisition/config/CameraConfigFiles.h"),
    ("calibration/registration", "calibration/registration/PointCloudAligner.h",
     "calibration/joint/JointCalibration.h"),
    ("calibration/joint", "calibration/joint/JointCalibration.h", "calibration/quality/CalibrationQuality.h"),
    ("calibration/quality", "calibration/quality/CalibrationQuality.h",
     "calibration/cycle/DepthCameraCalibrator.h"),
    ("calibration/cycle", "calibration/cycle/DepthCameraCalibrator.h", "app/Scene.h"),
    ("calibration/drift", "calibration/drift/DriftRegistration.h", "acquisition/config/CameraConfigFiles.h"),
    ("network/codec", "network/codec/RvlCodec.h", "network/ros/NetworkDepthSource.h"),
    ("network/codec", "network/codec/RvlCodec.h", "acquisition/config/CameraConfigFiles.h"),
    ("network/ros", "network/ros/NetworkDepthSource.h", "calibration/cycle/DepthCameraCalibrator.h"),
    ("light", "light/SingleLightEnablerOptimizer.h", "app/Scene.h"),
    ("app", "app/Scene.h", "ui/RightBarViewModel.h"),
]


def compiles(arguments, header, folder):
    # Whether the header is reachable is settled by the preprocessor: a header of a layer whose
    # include root the compile does not see stops it with "file not found", and preprocessing
    # takes a fraction of a full parse of Eigen and PCL.
    source = Path(folder) / "probe.cpp"
    source.write_text(f'#include "{header}"\n')
    run = subprocess.run(arguments + ["-E", "-o", os.devnull, str(source)], capture_output=True, text=True)
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
            print(f"{layer:24} {own}: {'reached' if own_ok else 'not reached'}; "
                  f"{above}: {'reached' if above_ok else 'not reached'}  {verdict}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
