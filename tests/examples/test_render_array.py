"""examples/render_array.sbatch as Slurm runs it: job arrays on a one-node cluster of the test's
own write exactly the frame files of one quarro-render run, byte for byte, whether the tasks
share the frames evenly or not, whatever index the array starts at and whatever its step."""
import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import one_node_slurm  # noqa: E402

SCRIPT = ROOT / "examples" / "render_array.sbatch"
DOCUMENT = ROOT / "examples" / "demo.mrf"


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    why = one_node_slurm.missing()
    if why:
        pytest.skip(why)
    with one_node_slurm.OneNodeSlurm(tmp_path_factory.mktemp("slurm")) as started:
        yield started


@pytest.mark.parametrize("frames, array", [
    (7, "0-2"),   # 2, 2 and 3 frames
    (3, "4-8"),   # more tasks than frames: two have none; indices from 4
    (8, "0-6:2"),  # four tasks with a step: IDs 0, 2, 4, 6
    (5, "3-11:4"),  # IDs 3, 7, 11
])
def test_job_array_writes_the_files_of_one_run(cluster, tmp_path, frames, array):
    render = os.environ["QUARRO_RENDER"]
    single = tmp_path / "single"
    shared = tmp_path / "array"
    single.mkdir()
    shared.mkdir()
    done = subprocess.run([render, str(DOCUMENT), "-q", "-j", "4", "-n", str(frames), "-o", str(single / "m_%02d.png")],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr

    # The job finds quarro-render on the PATH it was submitted with, as on a cluster where it is installed.
    environment = dict(cluster.environment, PATH=f"{os.path.dirname(render)}:{os.environ['PATH']}")
    done = subprocess.run(["sbatch", "--wait", f"--array={array}", str(SCRIPT), str(DOCUMENT), str(frames),
                           str(shared / "m_%02d.png")],
                          cwd=tmp_path, env=environment, capture_output=True, text=True, timeout=300)
    logs = "".join(p.read_text() for p in sorted(tmp_path.glob("quarro-render-*.log")))
    assert done.returncode == 0, f"{done.stdout}{done.stderr}\n{logs}\n{cluster.logs()}"

    expected = sorted(p.name for p in single.iterdir())
    assert len(expected) == frames
    assert sorted(p.name for p in shared.iterdir()) == expected
    for name in expected:
        assert (shared / name).read_bytes() == (single / name).read_bytes(), name
    first, last, step = map(int, (array + ":1").replace("-", ":").split(":")[:3])
    assert len(list(tmp_path.glob("quarro-render-*.log"))) == len(range(first, last + 1, step)), "one log per task"
