#!/usr/bin/env python3
"""The administrative templates against themselves and against the code:
  policy_templates.py SOURCE_DIR
(1) the ADMX and its en-US ADML are well-formed and every reference of the ADMX (strings,
presentations, the elements a presentation names) resolves; (2) every machine value the code
reads from our keys is set by a policy. Policies for values no code reads yet are fine."""
import os
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
ROOT_KEY = "SOFTWARE\\Velmora"  # our keys; the agent reads others (Internet Explorer's) too


def load(path, failures):
    try:
        return ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        failures.append(f"{path}: not well-formed XML: {e}")
        return None


def check_references(admx, adml, failures):
    strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    for node in admx.iter():
        for attr, text in node.attrib.items():
            for kind, name in re.findall(r"\$\((string|presentation)\.([^)]*)\)", text):
                if name not in (strings if kind == "string" else presentations):
                    failures.append(f"ADMX {attr}=\"{text}\": no {kind} \"{name}\" in the ADML")
    for policy in admx.iterfind(".//p:policy", NS):
        ids = {e.get("id") for e in policy.iterfind("p:elements/*", NS)}
        ref = re.fullmatch(r"\$\(presentation\.([^)]*)\)", policy.get("presentation") or "")
        shown = presentations.get(ref.group(1)) if ref else None
        refs = {c.get("refId") for c in shown.iter() if c.get("refId")} if shown is not None else set()
        if refs != ids:
            failures.append(f"policy {policy.get('name')}: elements {sorted(ids)}, presentation shows {sorted(refs)}")


def policy_values(admx):
    """(key, value name) of every policy and of each of its elements, case folded as the registry does."""
    found = set()
    for policy in admx.iterfind(".//p:policy", NS):
        key = policy.get("key")
        if policy.get("valueName"):
            found.add((key.lower(), policy.get("valueName").lower()))
        for element in policy.iterfind("p:elements/*", NS):
            if element.get("valueName"):
                found.add(((element.get("key") or key).lower(), element.get("valueName").lower()))
    return found


def split_arguments(text, start):
    """The top-level arguments of the call whose "(" is at text[start]."""
    args, depth, current, i = [], 0, "", start + 1
    while i < len(text):
        c = text[i]
        if c == '"':
            end = text.index('"', i + 1)
            current, i = current + text[i:end + 1], end + 1
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                return args + [current.strip()]
            depth -= 1
        elif c == "," and depth == 0:
            args.append(current.strip())
            current = ""
            i += 1
            continue
        current += c
        i += 1
    return args


def wide_constant(name, *texts):
    for text in texts:
        m = re.search(r"\b" + re.escape(name) + r"\s*(?:\[\s*\])?\s*=\s*L\"((?:[^\"\\]|\\.)*)\"", text)
        if m:
            return m.group(1).replace("\\\\", "\\")
    return None


def code_reads(src, failures):
    """(file:line, key, value name) of each machine read from our keys. The window placement
    (placement::, per user first) is no machine setting and is left out."""
    with open(os.path.join(src, "support", "components.h"), encoding="utf-8") as f:
        shared = f.read()
    reads = []
    for folder, _, files in os.walk(src):
        for file in sorted(files):
            if not file.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, file)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            # Blanked rather than cut, so that line numbers stay true.
            scanned = re.sub(r"namespace placement \{.*?\}\s*// namespace placement",
                             lambda p: re.sub(r"[^\n]", " ", p.group(0)), text, flags=re.S)
            for m in re.finditer(r"\bregistry::Read(?:Number|Text)\s*\(", scanned):
                where = f"{os.path.relpath(path, os.path.dirname(src))}:{scanned.count(chr(10), 0, m.start()) + 1}"
                args = split_arguments(scanned, m.end() - 1)
                if len(args) < 3:
                    failures.append(f"{where}: cannot read the arguments of {m.group(0)}")
                    continue
                root, key, name = args[:3]
                if root == "HKEY_CURRENT_USER":
                    continue
                literal = re.fullmatch(r"L\"((?:[^\"\\]|\\.)*)\"", key)
                key_text = literal.group(1).replace("\\\\", "\\") if literal else wide_constant(key, text, shared)
                value = re.fullmatch(r"L\"([^\"]*)\"", name)
                if root != "HKEY_LOCAL_MACHINE" or key_text is None or not value:
                    failures.append(f"{where}: cannot tell which machine value {m.group(0)}{root}, {key}, {name}...) "
                                    "reads; name the root, the key and the value plainly")
                    continue
                if key_text.lower() == ROOT_KEY.lower() or key_text.lower().startswith(ROOT_KEY.lower() + "\\"):
                    reads.append((where, key_text, value.group(1)))
    return reads


def main():
    source = sys.argv[1]
    policy = os.path.join(source, "packaging", "policy")
    failures = []
    admx = load(os.path.join(policy, "VelmoraSkytrove4.admx"), failures)
    adml = load(os.path.join(policy, "en-US", "VelmoraSkytrove4.adml"), failures)
    if admx is not None and adml is not None:
        check_references(admx, adml, failures)
    if admx is not None:
        reads = code_reads(os.path.join(source, "src"), failures)
        if not reads:
            failures.append("found no registry read of HKLM\\" + ROOT_KEY + " in src/: has the way of reading changed?")
        covered = policy_values(admx)
        for where, key, name in reads:
            if (key.lower(), name.lower()) not in covered:
                failures.append(f"{where} reads HKLM\\{key}\\{name}, which no policy in VelmoraSkytrove4.admx sets")
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        return 1
    print(f"policy templates: {len(policy_values(admx))} values with a policy; the code reads",
          ", ".join(sorted({name for _, _, name in reads})))
    return 0


if __name__ == "__main__":
    sys.exit(main())
