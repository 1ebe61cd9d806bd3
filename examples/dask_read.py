#!/usr/bin/env python3
"""Reads Orbel codes from a list of images across a Dask cluster and writes
one JSON object per line, as `orbread --json` does (same fields and values).

    # two local worker processes, paths from a file (one per line)
    python3 examples/dask_read.py --local-workers 2 --files-from paths.txt -o codes.jsonl
    # a running cluster: its scheduler's address
    python3 examples/dask_read.py --scheduler tcp://scheduler:8786 s3://bucket/photos/*.jpg

Paths are local files or URLs of any file system fsspec opens (s3://,
gcs://, http://, ...); a local path must exist on every worker. Each task
reads a batch of images, so scheduling costs little per image; a worker
runs one task per thread, and its threads read at the same time (orbel
releases the interpreter lock). Lines come out in the order of the paths.
"""
import argparse
import json
import math
import os
import shutil
import sys
import tempfile
import time


def _rounded(value):
    return round(value * 100.0) / 100.0


def _json_lines(name, search, milliseconds):
    """orbread --json's lines for one image."""
    if not search.codes:
        line = {"file": name, "index": None, "time_ms": _rounded(milliseconds),
                "error": f"no code found ({search.error})"}
        return [line]
    lines = []
    for index, code in enumerate(search.codes):
        line = {"file": name, "index": index}
        if code.text is None:
            line["text"] = None
            line["bytes"] = code.bytes.hex()
        else:
            line["text"] = code.text
        line.update(
            data_type=code.data_type,
            ecc_type=code.ecc_type,
            layout=code.layout,
            code_type=code.code_type,
            modules_per_ring=code.modules_per_ring,
            rings=code.rings,
            mirrored=code.mirrored,
            errors_corrected=code.errors_corrected,
            erasures=code.erasures,
            centre=[_rounded(v) for v in code.centre],
            outline=[[_rounded(float(x)), _rounded(float(y))] for x, y in code.outline],
            time_ms=_rounded(milliseconds),
        )
        lines.append(line)
    return lines


def _search(path, options):
    """The search of one image: a local file directly, a URL through a local
    copy, so both load exactly as orbread loads a file."""
    import orbel

    if "://" not in path or path.startswith("file://"):
        return orbel.search_file(path.removeprefix("file://"), **options)
    import fsspec

    suffix = os.path.splitext(path)[1]
    with tempfile.NamedTemporaryFile(suffix=suffix) as local, fsspec.open(path, "rb") as remote:
        shutil.copyfileobj(remote, local)
        local.flush()
        return orbel.search_file(local.name, **options)


def read_batch(paths, options):
    """One task: the JSON lines of a batch of images, as text. A worker runs
    as many tasks at once as it has threads."""
    lines = []
    for path in paths:
        start = time.perf_counter()
        try:
            search = _search(path, options)
        except (OSError, ValueError) as e:
            message = str(e)
            if isinstance(e, OSError) and os.path.isfile(path) and os.path.getsize(path) == 0:
                message = "cannot read: empty file"
            lines.append({"file": path, "index": None,
                          "time_ms": _rounded((time.perf_counter() - start) * 1000.0), "error": message})
            continue
        lines += _json_lines(path, search, (time.perf_counter() - start) * 1000.0)
    return "".join(json.dumps(line, ensure_ascii=False) + "\n" for line in lines)


def batches(paths, size):
    return [paths[i:i + size] for i in range(0, len(paths), size)]


def read_all(client, paths, batch_size, options, out):
    """Submits one task per batch and writes their lines in order; returns
    the number of images read."""
    futures = client.map(read_batch, batches(paths, batch_size), options=options, pure=False)
    for future in futures:
        out.write(future.result())
        future.release()
    return len(paths)


def input_paths(args):
    paths = list(args.paths)
    if args.files_from:
        with (sys.stdin if args.files_from == "-" else open(args.files_from, encoding="utf-8")) as listing:
            paths += [line.rstrip("\n") for line in listing if line.strip()]
    expanded = []
    for path in paths:
        if "://" in path and any(c in path for c in "*?["):
            import fsspec

            fs, _, found = fsspec.get_fs_token_paths(path)
            protocol = fs.protocol if isinstance(fs.protocol, str) else fs.protocol[0]
            expanded += [f"{protocol}://{p}" for p in sorted(found)]
        else:
            expanded.append(path)
    return expanded


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="*", help="image files or URLs")
    parser.add_argument("--files-from", metavar="FILE", help="more paths, one per line (- for standard input)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS", help="address of a running Dask scheduler")
    where.add_argument("--local-workers", type=int, metavar="N",
                       help="start a local cluster of N worker processes (default: one per core)")
    parser.add_argument("--threads-per-worker", type=int, default=None,
                        help="with --local-workers (default: the cores shared out among the workers)")
    parser.add_argument("--batch-size", type=int, default=0,
                        help="images per task (default: about 8 tasks per worker, 1 to 500 images each)")
    parser.add_argument("-o", "--output", metavar="FILE", help="write the lines here instead of standard output")
    parser.add_argument("--code-type", default="both", choices=["both", "bw", "color"])
    parser.add_argument("--first", action="store_true", help="stop at the first code of each image")
    args = parser.parse_args(argv)

    from distributed import Client, LocalCluster

    paths = input_paths(args)
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        workers = args.local_workers or os.cpu_count() or 1
        cluster = LocalCluster(n_workers=workers, threads_per_worker=args.threads_per_worker or max(1, (os.cpu_count() or 1) // workers),
                               processes=True, dashboard_address=None)
        client = Client(cluster)
    options = {"code_types": args.code_type}
    if args.first:
        options["max_codes"] = 1
    workers = max(1, len(client.scheduler_info()["workers"]))
    size = args.batch_size or min(500, max(1, math.ceil(len(paths) / (8 * workers))))
    start = time.perf_counter()
    out = open(args.output, "w", encoding="utf-8") if args.output else sys.stdout
    try:
        count = read_all(client, paths, size, options, out)
    finally:
        if out is not sys.stdout:
            out.close()
        client.close()
        if not args.scheduler:
            cluster.close()
    seconds = time.perf_counter() - start
    print(f"read {count} images in {seconds:.1f} s on {workers} workers "
          f"({count / seconds if seconds else 0:.0f} images per second)", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
