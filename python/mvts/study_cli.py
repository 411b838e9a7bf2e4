"""The command line's ``mvts study``: a study described in a JSON file.

``mvts study`` (the C++ command line) runs ``python3 -m mvts.study_cli``
with the package on PYTHONPATH; it can also be run that way directly.
"""

import argparse
import json
import math
import numbers
import os
import sys

FORMAT = """\
The study file is one JSON object:

  {
    "simulate": {"function": "FARMASIM",
                 "arguments": {"d": 0.3, "phi": [0.5], "n": 1000}},
    "fits": {
      "exact":       {"function": "FARMAFIT", "arguments": {"p": 1, "opt": [1, 0]}},
      "conditional": {"function": "FARMAFIT", "arguments": {"p": 1, "opt": [0, 0]}}
    },
    "replications": 200,
    "seed": 1,
    "truth": {"d": 0.3, "ar": [0.5], "sigma": 1}
  }

  simulate      a simulating function (VNORMAL, VARMASIM, FARMASIM, UCMSIM)
                and its arguments by name, without seed
  fits          label -> a function that takes a series (FARMAFIT, VARMAFIT,
                ...) and its arguments, without series: each replication's
                series is fitted by each
  replications  how many series to simulate (a whole number >= 1)
  seed          the base seed (a whole number): replication i draws with
                the seed 1 + splitmix64(splitmix64(seed) xor i) mod (2^31-2),
                the same whatever runs it
  truth         optional: output name -> true value, for bias and RMSE
  chunk         optional: replications per task (default: ~0.1 s of work)

Values: a number; a list of numbers is a vector ([0.5, 0.2]); a list of
rows a matrix ([[0.5, 0.1], [0.1, 0.5]]); null a missing value; [] an
argument that holds no value; a string a character value.  Argument names
are those of mvts help FUNCTION.

Output: the summary (n, failed, truth, mean, bias, sd, rmse per method and
estimate) on standard output; with --out, the table of every replication and
fit as CSV (replication, seed, method, stage, status, messages, text, time,
then the estimates; %.17g numbers, NA for a missing value).  A replication
whose call fails keeps its rows, with its status and messages.

Where it runs: serially in this process; --workers N starts N local worker
processes (Dask) and stops them at the end or on Ctrl-C; --scheduler ADDRESS
uses a running Dask cluster, whose workers must import mvts (the same
PYTHONPATH).  The table is the same bit for bit in every case.

Exit status: 0 the study ran (failed replications included); 1 it could not
run (the scheduler unreachable, the workers without mvts) or its output could
not be written; 2 a usage error or a bad study file; 130 interrupted."""

EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130

_KEYS = {"simulate", "fits", "replications", "seed", "truth", "chunk"}


class StudyFileError(ValueError):
    """A study file that cannot be run, with the place of the problem."""


def _no_duplicates(pairs):
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise StudyFileError(f"key {key!r} appears twice in one object")
        seen[key] = value
    return seen


def _whole(value, where, least, most=None):
    if isinstance(value, float) and value.is_integer():
        value = int(value)
    if isinstance(value, bool) or not isinstance(value, int):
        raise StudyFileError(f"{where} must be a whole number, not {json.dumps(value)}")
    if value < least:
        raise StudyFileError(f"{where} must be at least {least}, not {value}")
    if most is not None and value > most:
        raise StudyFileError(f"{where} must be at most {most}, not {value}")
    return value


def _value(value, where):
    """A JSON value as a function argument (see FORMAT)."""
    import numpy as np
    import mvts

    def number(x, at):
        if x is None:
            return math.nan
        if isinstance(x, bool) or not isinstance(x, numbers.Real):
            raise StudyFileError(f"{at}: {json.dumps(x)} is not a number")
        return float(x)

    if isinstance(value, str):
        return value
    if value is None or isinstance(value, (int, float)) and not isinstance(value, bool):
        return number(value, where)
    if isinstance(value, list):
        if not value:
            return mvts.EMPTY
        if all(isinstance(row, list) for row in value):
            widths = {len(row) for row in value}
            if len(widths) != 1 or 0 in widths:
                raise StudyFileError(f"{where}: the rows of a matrix must have one length, "
                                     "at least 1")
            return np.array([[number(x, where) for x in row] for row in value])
        return np.array([number(x, where) for x in value])
    raise StudyFileError(f"{where}: {json.dumps(value)} is not a number, a list, null or a "
                         "string")


def _call(entry, where, role):
    from mvts.study import Call

    if not isinstance(entry, dict):
        raise StudyFileError(f"{where} must be an object "
                             '{"function": NAME, "arguments": {...}}')
    unknown = set(entry) - {"function", "arguments"}
    if unknown:
        raise StudyFileError(f"{where}: unknown key {sorted(unknown)[0]!r} "
                             "(function, arguments)")
    if not isinstance(entry.get("function"), str):
        raise StudyFileError(f"{where}.function must be a function name")
    arguments = entry.get("arguments", {})
    if not isinstance(arguments, dict):
        raise StudyFileError(f"{where}.arguments must be an object of name: value")
    values = {k: _value(v, f"{where}.arguments.{k}") for k, v in arguments.items()}
    try:
        call = Call(entry["function"], **values)
    except ValueError as e:
        raise StudyFileError(f"{where}: {e}") from None
    supplied = "seed" if role == "simulate" else "series"
    if not call.takes(supplied):
        kind = "a simulating function" if role == "simulate" else "a function of a series"
        raise StudyFileError(f"{where}: {call.function} is not {kind} (it takes no {supplied})")
    if supplied in call.arguments:
        raise StudyFileError(f"{where}: leave {supplied} out; the study supplies it")
    return call


def read_study(path):
    """The keyword arguments of mvts.study.run for the study in file
    ``path``; StudyFileError says what is wrong with it."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise StudyFileError(f"cannot read the study file: {e.strerror}") from None
    except UnicodeDecodeError:
        raise StudyFileError("the study file is not UTF-8 text") from None
    try:
        given = json.loads(text, object_pairs_hook=_no_duplicates)
    except json.JSONDecodeError as e:
        raise StudyFileError(f"not JSON: {e.msg} at line {e.lineno}, column {e.colno}") from None
    except StudyFileError:  # from _no_duplicates
        raise
    except RecursionError:
        # The parser recurses once per level of nesting; a study file needs
        # three.
        raise StudyFileError("not a study: its values are nested too deeply for the JSON "
                             "reader") from None
    except ValueError:  # a whole number of more digits than the reader converts
        raise StudyFileError("not a study: it holds a number of more than "
                             f"{sys.get_int_max_str_digits()} digits") from None
    if not isinstance(given, dict):
        raise StudyFileError("the study file must hold one JSON object")
    unknown = set(given) - _KEYS
    if unknown:
        raise StudyFileError(f"unknown key {sorted(unknown)[0]!r} (known: "
                             f"{', '.join(sorted(_KEYS))})")
    for key in ("simulate", "fits", "replications", "seed"):
        if key not in given:
            raise StudyFileError(f"the key {key!r} is missing")
    fits = given["fits"]
    if not isinstance(fits, dict) or not fits:
        raise StudyFileError("fits must be an object of label: {function, arguments}, "
                             "with at least one fit")
    study = {
        "simulate": _call(given["simulate"], "simulate", "simulate"),
        "fits": {label: _call(entry, f"fits.{label}", "fit") for label, entry in fits.items()},
        "replications": _whole(given["replications"], "replications", 1,
                               _study().MAX_REPLICATIONS),
        "seed": _whole(given["seed"], "seed", -2**63),
    }
    if "chunk" in given:
        study["chunk"] = _whole(given["chunk"], "chunk", 1)
    truth = given.get("truth")
    if truth is not None:
        if not isinstance(truth, dict):
            raise StudyFileError("truth must be an object of output: value")
        outputs = {o for call in study["fits"].values()
                   for o in _outputs(call.function)}
        for key, value in truth.items():
            if key not in outputs:
                raise StudyFileError(f"truth.{key}: no fit has an output {key!r} "
                                     f"(outputs: {', '.join(sorted(outputs))})")
            study.setdefault("truth", {})[key] = _value(value, f"truth.{key}")
    return study


def _study():
    from mvts import study
    return study


def _outputs(function):
    from mvts import _calls
    return _calls.outputs_of_function(function)


def _parser():
    parser = argparse.ArgumentParser(
        prog="mvts study", description="Runs the Monte-Carlo study described in FILE.json.",
        epilog=FORMAT, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file", metavar="FILE.json", help="the study file")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, metavar="N",
                       help="run on N local worker processes")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on the Dask cluster at ADDRESS (tcp://host:8786)")
    parser.add_argument("--out", metavar="FILE.csv",
                        help="write the table of every replication and fit as CSV")
    return parser


def main(argv=None):
    parser = _parser()
    args = parser.parse_args(argv)  # exits with status 2 on a usage error
    if args.workers is not None and args.workers < 1:
        parser.error(f"--workers must be at least 1, not {args.workers}")
    try:
        study = read_study(args.file)
    except StudyFileError as e:
        print(f"mvts study: {args.file}: {e}", file=sys.stderr)
        return EXIT_USAGE
    except RecursionError:  # a value nested almost as deeply as the reader allows
        print(f"mvts study: {args.file}: not a study: its values are nested too deeply",
              file=sys.stderr)
        return EXIT_USAGE
    from mvts import study as runner

    client = None
    if args.workers is not None:
        client = "local"
    elif args.scheduler is not None:
        client = args.scheduler
    try:
        table = runner.run(**study, client=client, workers=args.workers)
        if args.out:
            table.to_csv(args.out, index=False, float_format="%.17g", na_rep="NA")
    except KeyboardInterrupt:
        print("mvts study: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except (OSError, ImportError) as e:
        print(f"mvts study: {e}", file=sys.stderr)
        return EXIT_FAILED
    try:
        print(runner.summary(table).to_string(), flush=True)
    except OSError as e:  # a closed pipe (mvts study ... | head), a full disk
        # Nothing more goes to standard output, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        print(f"mvts study: cannot write standard output: {e.strerror}", file=sys.stderr)
        return EXIT_FAILED
    failed = int((table["status"] != 0).sum())
    if failed:
        print(f"mvts study: {failed} of {len(table)} rows failed (status and messages in the "
              "table)", file=sys.stderr)
    return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
