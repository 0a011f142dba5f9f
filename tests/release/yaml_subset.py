"""Reads the block YAML that winget's manifests are written in, and fails on
anything else: mappings and lists by indentation, plain or single-quoted
scalars, comments on lines of their own. Python's standard library has no YAML
reader; this one says whether a manifest has the structure it seems to have."""


def parse(text):
    lines = []  # (indentation, text), a list item's "-" on a line of its own
    for raw in text.splitlines():
        content = raw.strip()
        if not content or content.startswith("#"):
            continue
        indentation = len(raw) - len(raw.lstrip(" "))
        if raw[indentation:indentation + 1] == "\t":
            raise ValueError("a tab in the indentation: %r" % raw)
        while content.startswith("- "):
            lines.append((indentation, "-"))
            content, indentation = content[2:].lstrip(" "), indentation + 2
        lines.append((indentation, content))
    value, end = _block(lines, 0)
    if end != len(lines):
        raise ValueError("text after the document: %r" % (lines[end],))
    return value


def _block(lines, start):  # the value that begins at lines[start], and where it ends
    indentation, content = lines[start]
    if content == "-":
        items, index = [], start
        while index < len(lines) and lines[index] == (indentation, "-"):
            item, index = _nested(lines, index)
            items.append(item)
        return items, index
    if ": " not in content and not content.endswith(":"):
        return _scalar(content), start + 1
    mapping, index = {}, start
    while index < len(lines) and lines[index][0] == indentation and lines[index][1] != "-":
        key, colon, value = lines[index][1].partition(":")
        if not colon or key != key.strip() or key in mapping or value[:1] not in ("", " "):
            raise ValueError("not a mapping entry: %r" % lines[index][1])
        if value.strip():
            mapping[key], index = _scalar(value.strip()), index + 1
        else:
            mapping[key], index = _nested(lines, index)
    return mapping, index


def _nested(lines, parent):  # the value indented below lines[parent]
    if parent + 1 >= len(lines) or lines[parent + 1][0] <= lines[parent][0]:
        raise ValueError("nothing below %r" % (lines[parent][1],))
    return _block(lines, parent + 1)


def _scalar(text):
    if text.startswith("'"):
        if len(text) < 2 or not text.endswith("'") or "'" in text[1:-1].replace("''", ""):
            raise ValueError("not a single-quoted scalar: %r" % text)
        return text[1:-1].replace("''", "'")
    if text[0] in "{[\"&*!|>%@`?:,-" or " #" in text or ": " in text:
        raise ValueError("not a plain scalar: %r" % text)
    return text
