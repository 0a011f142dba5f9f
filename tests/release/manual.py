"""Reading option lists out of the help text and out of a rendered manual page."""

import re


# The help prints each option as two blanks and its label in a field of 23
# characters, so the label may touch its text with a single blank.
HELP_LABEL_FIELD = slice(2, 2 + 23)


def help_options(help_text):
    """The option labels of --help, in order, from its "Optionen:" block."""
    labels = []
    inside = False
    for line in help_text.splitlines():
        if line == "Optionen:":
            inside = True
        elif inside and line.startswith("  "):
            labels.append(line[HELP_LABEL_FIELD].strip())
        elif inside:
            break
    return labels


def manual_options(rendered):
    """The option labels of the OPTIONEN section of a plain-text rendering, in
    order: a tag starts at the section's indent of seven blanks with "-";
    a short one shares its line with the text after two or more blanks."""
    labels = []
    inside = False
    for line in rendered.splitlines():
        if line == "OPTIONEN":
            inside = True
        elif inside and line and not line.startswith(" "):
            break
        elif inside and re.match(r" {7}-", line):
            labels.append(re.split(r" {2,}", line.strip())[0])
    return labels
