#!/usr/bin/env python3
"""Morphs a batch of documents, or one long sequence, on a dask.distributed cluster.

Two kinds of batch:

  documents  every morph document (.mrf) named is one task: its two pictures and its segment
             pairs morphed at fraction -t into one frame, OUTPUT_FOLDER/<document's name>.png.
  sequence   the N frames of one document (those of `quarro-render -n N`, with --bounce the
             2N - 2 of A -> B -> A) in chunks of --chunk frames, one task per chunk; the files
             are named by PATTERN as quarro-render names them.

Without --scheduler a LocalCluster of --workers processes is started on this machine. With
--scheduler tcp://HOST:8786 the batch goes to a running cluster (`dask scheduler` on one machine,
`dask worker tcp://HOST:8786 --nthreads 1` on each machine that renders, Debian's
python3-distributed and the quarro module installed everywhere). The workers read the pictures
and write the frames themselves, so every machine must see the same files at the same paths
(a shared folder). A frame depends on -j (each thread renders its own band of rows), so keep it
the same for a whole batch. From the repository root, after a build with -DQUARRO_BUILD_PYTHON=ON:

    PYTHONPATH=build/python /usr/bin/python3 examples/dask_batch.py sequence examples/demo.mrf 100 \\
        frames/morph_%03d.png --chunk 10
"""
import argparse
import os
import sys

import cloudpickle
import quarro

# How many morphs run at once inside one task; the default of the window and the renderer.
THREADS = 4


def _scene(document):
    """The document's two pictures and pairs, read where the task runs."""
    content = quarro.read_document(document)
    # Where the window and the renderer read them: a relative path beside the document first.
    for key in ("image_a", "image_b"):
        if content[key + "_path"] is None:
            raise FileNotFoundError(f"{document}: {key} {content[key]} is neither beside it nor in the current folder")
    # Both at once, each decoded by a helper of its own.
    image_a, image_b = quarro.read_images([content["image_a_path"], content["image_b_path"]])
    return image_a, image_b, content["pairs_a"], content["pairs_b"]


def render_document(document, output, t, size, threads):
    """Task: one frame of one document at fraction t, written to output; returns [output]."""
    image_a, image_b, pairs_a, pairs_b = _scene(document)
    quarro.write_image(output, quarro.morph(image_a, image_b, pairs_a, pairs_b, t=t, size=size, threads=threads))
    return [output]


def render_frames(document, frames, first, last, pattern, bounce, size, threads):
    """Task: frames first..last (both included) of the document's run of `frames` frames, written
    under pattern % index; returns their paths in order."""
    image_a, image_b, pairs_a, pairs_b = _scene(document)
    run = quarro.sequence(image_a, image_b, pairs_a, pairs_b, frames, size=size, threads=threads, bounce=bounce,
                          frame_range=(first, last))
    written = []
    for index, frame in zip(range(first, last + 1), run):
        path = pattern % index
        quarro.write_image(path, frame)
        written.append(path)
    return written


def document_tasks(documents, output_folder, t=0.5, size=None, threads=THREADS):
    """One task per document; their outputs are named after the documents, which must differ."""
    outputs = [os.path.join(output_folder, os.path.splitext(os.path.basename(d))[0] + ".png") for d in documents]
    if len(set(outputs)) != len(outputs):
        raise ValueError("two documents have the same name; their frames would overwrite each other")
    return [(render_document, (d, o, t, size, threads)) for d, o in zip(documents, outputs)]


def sequence_tasks(document, frames, pattern, chunk=8, bounce=False, size=None, threads=THREADS):
    """The run of `frames` frames (2 * frames - 2 with bounce) in tasks of `chunk` frames each."""
    if frames < 2 or chunk < 1:
        raise ValueError("a sequence has at least 2 frames, a chunk at least 1")
    length = 2 * frames - 2 if bounce else frames
    return [(render_frames, (document, frames, first, min(first + chunk, length) - 1, pattern, bounce, size, threads))
            for first in range(0, length, chunk)]


def submit(client, tasks):
    """Sends the tasks to the cluster; the futures, in the tasks' order. The task functions travel
    with their code, so a worker needs quarro but not this file, whenever it joins."""
    if __name__ != "__main__":  # the main script's functions travel with their code anyway
        cloudpickle.register_pickle_by_value(sys.modules[__name__])
    return [client.submit(function, *arguments, pure=False) for function, arguments in tasks]


def run(tasks, client=None):
    """Runs the tasks on the cluster, or one after the other in this process when client is None;
    returns every path written, in order. The first task that fails raises its error here."""
    if client is None:
        results = [function(*arguments) for function, arguments in tasks]
    else:
        results = client.gather(submit(client, tasks))
    return [path for paths in results for path in paths]


def _size(text):
    width, _, height = text.lower().partition("x")
    try:
        return int(width), int(height)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not WIDTHxHEIGHT") from None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scheduler", help="address of a running scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster")
    parser.add_argument("-s", "--size", type=_size, help="WIDTHxHEIGHT of the frames (default: image A's)")
    parser.add_argument("-j", "--threads", type=int, default=THREADS, help="threads of each morph")
    kinds = parser.add_subparsers(dest="kind", required=True)
    batch = kinds.add_parser("documents", help="one frame of each document")
    batch.add_argument("output_folder")
    batch.add_argument("documents", nargs="+")
    batch.add_argument("-t", "--fraction", type=float, default=0.5)
    sequence = kinds.add_parser("sequence", help="the frames of one document")
    sequence.add_argument("document")
    sequence.add_argument("frames", type=int)
    sequence.add_argument("pattern", help="printf-style name of the frame files, e.g. frames/morph_%%03d.png")
    sequence.add_argument("--bounce", action="store_true", help="A -> B -> A in 2N - 2 frames")
    sequence.add_argument("--chunk", type=int, default=8, help="frames per task")
    args = parser.parse_args()

    if args.kind == "documents":
        tasks = document_tasks(args.documents, args.output_folder, args.fraction, args.size, args.threads)
    else:
        tasks = sequence_tasks(args.document, args.frames, args.pattern, args.chunk, args.bounce, args.size,
                               args.threads)

    from dask.distributed import Client, LocalCluster
    try:
        if args.scheduler:
            with Client(args.scheduler) as client:
                written = run(tasks, client)
        else:
            with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None) as cluster, \
                    Client(cluster) as client:
                written = run(tasks, client)
    except (OSError, ValueError) as error:
        sys.exit(f"dask_batch: {error}")
    print(f"wrote {len(written)} files in {len(tasks)} tasks")


if __name__ == "__main__":
    main()
