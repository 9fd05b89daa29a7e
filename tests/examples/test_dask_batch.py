"""examples/dask_batch.py on a LocalCluster of two worker processes: its files are those of a
serial run of the same tasks, byte for byte, a sequence's frames are quarro-render's, and a
task that fails stops the batch with its own error; and the script itself on a scheduler and
workers started apart, as on many machines."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import time

import numpy as np
import pytest

import quarro

distributed = pytest.importorskip("distributed", reason="Debian's python3-distributed is not installed")
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
sys.path.insert(0, str(EXAMPLES))
sys.path.insert(0, str(EXAMPLES.parent / "tests" / "support"))
import child_processes  # noqa: E402
import dask_batch  # noqa: E402


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  local_directory=str(tmp_path_factory.mktemp("dask"))) as cluster, \
            distributed.Client(cluster) as connected:
        connected.wait_for_workers(2, timeout=120)
        yield connected


def write_scene(folder, seed, size_a=(119, 83), size_b=(97, 71)):
    """Two noisy pictures, named relative to the document, and a few random pairs."""
    folder.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(seed)
    for name, (width, height) in (("a.png", size_a), ("b.png", size_b)):
        quarro.write_image(folder / name, rng.integers(0, 256, (height, width, 3), dtype=np.uint8))
    pairs_a = rng.uniform(0.1, 0.9, (5, 4))
    document = folder / f"scene{seed}.mrf"
    quarro.write_document(document, "a.png", "b.png", pairs_a, np.clip(pairs_a + rng.normal(0, 0.1, (5, 4)), 0, 1))
    return str(document)


def on_cluster_and_serially(client, make_tasks, tmp_path):
    """Runs the tasks that make_tasks(folder) gives in two folders, on the cluster and serially;
    the names written, relative to their folder. Which worker runs what is the scheduler's choice."""
    written = dask_batch.run(make_tasks(tmp_path / "cluster"), client)
    serial = dask_batch.run(make_tasks(tmp_path / "serial"))
    return [os.path.relpath(p, tmp_path / "cluster") for p in written], \
        [os.path.relpath(p, tmp_path / "serial") for p in serial]


def assert_same_files(tmp_path, names):
    for name in names:
        assert (tmp_path / "cluster" / name).read_bytes() == (tmp_path / "serial" / name).read_bytes(), name


def test_documents_on_two_workers_equal_a_serial_run(client, tmp_path):
    documents = [write_scene(tmp_path / "scenes" / f"s{seed}", seed) for seed in range(6)]

    def tasks(folder):
        folder.mkdir()
        return dask_batch.document_tasks(documents, str(folder), t=0.3, size=(64, 48))

    names, serial = on_cluster_and_serially(client, tasks, tmp_path)
    assert names == serial == [f"scene{seed}.png" for seed in range(6)]
    assert_same_files(tmp_path, names)
    assert quarro.read_image(tmp_path / "cluster" / "scene0.png").shape == (48, 64, 4)


@pytest.mark.parametrize("frames, chunk, bounce", [(7, 3, False), (5, 2, True)])
def test_sequence_in_chunks_equals_the_renderers_run(client, tmp_path, frames, chunk, bounce):
    document = write_scene(tmp_path / "scene", 11)

    def tasks(folder):
        folder.mkdir()
        return dask_batch.sequence_tasks(document, frames, str(folder / "f_%02d.png"), chunk=chunk, bounce=bounce)

    names, serial = on_cluster_and_serially(client, tasks, tmp_path)
    length = 2 * frames - 2 if bounce else frames
    assert names == serial == [f"f_{i:02d}.png" for i in range(length)]
    assert_same_files(tmp_path, names)

    rendered = tmp_path / "rendered"
    rendered.mkdir()
    arguments = [os.environ["QUARRO_RENDER"], document, "-q", "-j", "4", "-n", str(frames),
                 "-o", str(rendered / "f_%02d.png")] + (["--bounce"] if bounce else [])
    done = subprocess.run(arguments, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    for name in names:
        assert np.array_equal(quarro.read_image(tmp_path / "cluster" / name), quarro.read_image(rendered / name)), name


def test_a_failed_task_stops_the_batch_with_its_error(client, tmp_path):
    documents = [write_scene(tmp_path / "good", 1), str(tmp_path / "missing.mrf")]
    with pytest.raises(FileNotFoundError):
        dask_batch.run(dask_batch.document_tasks(documents, str(tmp_path)), client)
    with pytest.raises(ValueError):
        dask_batch.document_tasks([documents[0], str(tmp_path / "other" / "scene1.mrf")], str(tmp_path))


def test_command_line_on_a_scheduler_and_workers_of_their_own(tmp_path):
    """The script as the README starts it past one machine: `dask scheduler` and `dask worker`
    processes that know nothing of the examples folder, and the script from another folder."""
    dask = shutil.which("dask")
    if dask is None:
        pytest.skip("the dask command is missing (Debian's python3-distributed has it)")
    document = write_scene(tmp_path / "scene", 21)
    address_file = tmp_path / "scheduler.json"
    started = []
    try:
        for arguments in (["scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard"],
                          ["worker", "--nthreads", "1", "--nworkers", "1", "--no-dashboard",
                           "--local-directory", str(tmp_path / "workers")]):
            log = open(tmp_path / f"{arguments[0]}.log", "wb")
            started.append(subprocess.Popen([dask, *arguments, "--scheduler-file", str(address_file)],
                                            cwd=tmp_path, stdout=log, stderr=subprocess.STDOUT))
            log.close()
        address = None
        deadline = time.monotonic() + 120
        while address is None and time.monotonic() < deadline:
            try:  # the scheduler may not have finished writing it
                address = json.loads(address_file.read_text())["address"]
            except (OSError, ValueError, KeyError):
                time.sleep(0.2)
        assert address, "the scheduler wrote no address"
        (tmp_path / "frames").mkdir()
        done = subprocess.run([sys.executable, str(EXAMPLES / "dask_batch.py"), "--scheduler", address,
                               "sequence", document, "6", "frames/f_%02d.png", "--chunk", "2"],
                              cwd=tmp_path, capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr + "".join(p.read_text() for p in tmp_path.glob("*.log"))
        assert "wrote 6 files in 3 tasks" in done.stdout
    finally:
        for process in reversed(started):
            child_processes.stop(process)
    expected = dask_batch.run(dask_batch.sequence_tasks(document, 6, str(tmp_path / "serial_%02d.png")))
    for index, path in enumerate(expected):
        assert (tmp_path / "frames" / f"f_{index:02d}.png").read_bytes() == pathlib.Path(path).read_bytes(), index
