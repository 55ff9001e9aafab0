#!/usr/bin/env python3
"""Install trees for the round trip of pak diff.

  diff_trees.py generate SEED OUT PAK   OUT/old and OUT/new: a generated pair of installs
  diff_trees.py debian OUT PAK          the same from real files of the machine's Debian packages
  diff_trees.py compare GOT WANT PAK    exit 1, naming each difference, unless GOT equals WANT

A pair holds nested folders, Big5 names (some with a 0x5C trail byte), empty files,
and game packs (*.pak in the folder itself) with nested directories and raw and
EnCode entries mixed; between old and new, files and entries are changed, added and
removed, folders and pack directories too. Loose file names are in lower case: the
installer writes payload files under their folded names.

Comparing: every loose file byte for byte, nothing more or less on either side
(leftover temporary files included), and every pack passing pak verify and holding the
same entries with the same decoded bytes (compared through pak extract).
"""
import filecmp
import os
import random
import shutil
import subprocess
import sys
import tempfile

BIG5_NAMES = ["許功", "蓋", "功能", "說明", "資料"]  # 許 B3 5C, 功 A5 5C, 蓋 BB 5C
ASCII_NAMES = ["data", "maps", "sound", "ui", "x", "long_name_for_a_folder", "a.b"]


def name(rng, file=False):
    base = rng.choice(BIG5_NAMES) if rng.random() < 0.3 else rng.choice(ASCII_NAMES)
    base += str(rng.randrange(100))
    return base + (rng.choice([".txt", ".bin", ".dat", ""]) if file else "")


def content(rng):
    kind = rng.random()
    if kind < 0.1:
        return b""
    size = rng.choice([1, 9, 100, 3000, 20000])
    if kind < 0.5:
        return bytes(rng.randrange(256) for _ in range(min(size, 3000)))
    word = bytes(rng.choice(b"abcdefgh \n") for _ in range(rng.randrange(1, 12)))
    return (word * (size // len(word) + 1))[:size]


def random_tree(rng, count, depth=3):
    """{relative path with '/': bytes} of count files in nested folders."""
    files = {}
    for _ in range(count):
        parts = [name(rng) for _ in range(rng.randrange(depth + 1))]
        path = "/".join(parts + [name(rng, True)])
        if not any(p == path or p.startswith(path + "/") or path.startswith(p + "/") for p in files):
            files[path] = content(rng)
    return files


def mutate(rng, files):
    """A new version: some changed, some removed (whole folders too), some added."""
    new = {}
    removed_folders = {p.rsplit("/", 1)[0] for p in files if "/" in p and rng.random() < 0.1}
    for path, data in files.items():
        if any(path.startswith(folder + "/") for folder in removed_folders):
            continue
        roll = rng.random()
        if roll < 0.15:
            continue
        new[path] = content(rng) if roll < 0.35 else data
    # Added files never stand where the old version has a folder, or the reverse.
    for path, data in random_tree(rng, rng.randrange(1, 8)).items():
        if not any(p == path or p.startswith(path + "/") or path.startswith(p + "/") for p in list(new) + list(files)):
            new[path] = data
    return new


def write_tree(root, files):
    for path, data in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as out:
            out.write(data)


def make_pack(pak, pack, raw_files, encoded_files, empty_dirs=()):
    """A pack whose entries of raw_files are stored raw and of encoded_files as EnCode."""
    with tempfile.TemporaryDirectory() as work:
        raw = os.path.join(work, "raw")
        enc = os.path.join(work, "enc")
        os.makedirs(raw)
        os.makedirs(enc)
        write_tree(raw, {p: d for p, d in raw_files.items() if not d.startswith(b"EnCo")})
        write_tree(enc, encoded_files)
        for folder in empty_dirs:
            os.makedirs(os.path.join(raw, folder), exist_ok=True)
        subprocess.run([pak, "create", "--raw", pack, raw], check=True, stdout=subprocess.DEVNULL)
        if encoded_files:
            other = os.path.join(work, "enc.pak")
            subprocess.run([pak, "create", other, enc], check=True, stdout=subprocess.DEVNULL)
            subprocess.run([pak, "merge", pack, other], check=True, stdout=subprocess.DEVNULL)


def split(rng, files):
    raw, enc = {}, {}
    for path, data in files.items():
        (raw if rng.random() < 0.4 else enc)[path] = data
    return raw, enc


def generate(seed, out, pak):
    rng = random.Random(seed)
    old_root, new_root = os.path.join(out, "old"), os.path.join(out, "new")
    old_loose = random_tree(rng, rng.randrange(3, 15))
    new_loose = mutate(rng, old_loose)
    write_tree(old_root, old_loose)
    write_tree(new_root, new_loose)
    os.makedirs(new_root, exist_ok=True)
    pack_names = ["data", "sound", "gone", "fresh", "same", "only_removals"]
    for pack in pack_names:
        entries = random_tree(rng, rng.randrange(2, 25), depth=4)
        entries = {p.lower(): d for p, d in entries.items()}
        if pack == "same":
            new_entries = dict(entries)
        elif pack == "only_removals":
            new_entries = {p: d for p, d in entries.items() if rng.random() < 0.6}
        else:
            new_entries = mutate(rng, entries)
            new_entries = {p.lower(): d for p, d in new_entries.items()}
        if pack != "fresh":
            raw, enc = split(rng, entries)
            make_pack(pak, os.path.join(old_root, pack + ".pak"), raw, enc, ["empty_dir"] if rng.random() < 0.5 else [])
        if pack != "gone":
            # The same decoded bytes may be stored the other way round in the new pack.
            raw, enc = split(rng, new_entries)
            make_pack(pak, os.path.join(new_root, pack + ".pak"), raw, enc, ["new_empty"] if rng.random() < 0.3 else [])


def debian(out, pak):
    """Real files from the machine's packages: documentation and licences."""
    rng = random.Random(7)
    sources = []
    for top in ["/usr/share/doc/bash", "/usr/share/doc/coreutils", "/usr/share/common-licenses", "/usr/share/doc/tar",
                "/usr/share/doc/gzip", "/usr/share/doc/libc6", "/bin"]:
        for folder, _, names in os.walk(top):
            for file in sorted(names):
                path = os.path.join(folder, file)
                if os.path.isfile(path) and not os.path.islink(path) and os.path.getsize(path) < 400_000:
                    sources.append(path)
    sources = sorted(sources)[:400]
    files = {}
    for path in sources:
        with open(path, "rb") as src:
            # Pack names hold 31 bytes at most.
            parts = [part[:24] for part in path.lstrip("/").lower().replace(".pak", "_pak").split("/")]
            files["/".join(parts)] = src.read()
    paths = sorted(files)
    old_loose = {p: files[p] for p in paths[0:150]}
    new_loose = {p: files[p] for p in paths[20:170]}
    for p in paths[40:60]:
        new_loose[p] = files[p] + b"\npatched\n"
    pack_old = {p: files[p] for p in paths[170:330]}
    pack_new = {p: files[p] for p in paths[200:400] if rng.random() < 0.9}
    for p in paths[250:280]:
        if p in pack_new:
            pack_new[p] = files[p][::-1]
    write_tree(os.path.join(out, "old"), old_loose)
    write_tree(os.path.join(out, "new"), new_loose)
    make_pack(pak, os.path.join(out, "old", "data.pak"), *split(rng, pack_old))
    make_pack(pak, os.path.join(out, "new", "data.pak"), *split(rng, pack_new))


def listing(root):
    found = set()
    for folder, dirs, names in os.walk(root):
        for entry in dirs + names:
            found.add(os.path.relpath(os.path.join(folder, entry), root))
    return found


def compare(got, want, pak):
    problems = []
    got_items, want_items = listing(got), listing(want)
    for item in sorted(got_items - want_items):
        problems.append("left over: " + item)
    for item in sorted(want_items - got_items):
        problems.append("missing: " + item)
    with tempfile.TemporaryDirectory() as work:
        for item in sorted(got_items & want_items):
            a, b = os.path.join(got, item), os.path.join(want, item)
            if os.path.isdir(a) != os.path.isdir(b):
                problems.append("kind differs: " + item)
            elif os.path.isdir(a):
                continue
            elif os.sep not in item and item.lower().endswith(".pak"):
                verify = subprocess.run([pak, "verify", a], capture_output=True)
                if verify.returncode != 0:
                    problems.append("pak verify fails: " + item + ": " + verify.stdout.decode(errors="replace"))
                ea, eb = os.path.join(work, item, "got"), os.path.join(work, item, "want")
                subprocess.run([pak, "extract", a, ea], check=True, capture_output=True)
                subprocess.run([pak, "extract", b, eb], check=True, capture_output=True)
                for entry in sorted(listing(ea) ^ listing(eb)):
                    problems.append("pack " + item + ": entry only on one side: " + entry)
                for entry in sorted(listing(ea) & listing(eb)):
                    fa, fb = os.path.join(ea, entry), os.path.join(eb, entry)
                    if os.path.isfile(fa) and not filecmp.cmp(fa, fb, shallow=False):
                        problems.append("pack " + item + ": entry differs: " + entry)
            elif not filecmp.cmp(a, b, shallow=False):
                problems.append("file differs: " + item)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


def main():
    mode = sys.argv[1]
    if mode == "generate":
        generate(int(sys.argv[2]), sys.argv[3], sys.argv[4])
    elif mode == "debian":
        debian(sys.argv[2], sys.argv[3])
    elif mode == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4]))
    else:
        sys.exit("unknown mode " + mode)


if __name__ == "__main__":
    main()
