"""The resources linked into holwerk.exe, read back with wrestool (icoutils):
the application manifest, the version block and the icon."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import harness

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def resource(kind, name):
    completed = subprocess.run(["wrestool", "--raw", "-x", "--type=%d" % kind,
                                "--name=%d" % name, harness.PROGRAM],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
    return completed.stdout


def resource_names(kind):
    completed = subprocess.run(["wrestool", "-l", "--type=%d" % kind, harness.PROGRAM],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True,
                               text=True)
    return [int(field[len("--name="):]) for line in completed.stdout.splitlines()
            for field in line.split() if field.startswith("--name=")]


def version_nodes(data, offset=0, end=None):
    """The VS_VERSIONINFO tree: (key, value bytes, value type, children) per node."""
    end = len(data) if end is None else end
    nodes = []
    while offset + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            break
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if value_type == 1 else value_length
        value = data[value_start:value_start + value_bytes]
        children_start = (value_start + value_bytes + 3) & ~3
        children = version_nodes(data, children_start, offset + length)
        nodes.append((key, value, value_type, children))
        offset = (offset + length + 3) & ~3
    return nodes


@unittest.skipUnless(harness.UNDER_WINE, "the resources belong to the Windows build")
class ResourcesTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        if shutil.which("wrestool") is None:
            raise AssertionError("wrestool (Debian package icoutils) is needed")

    def test_manifest_declares_identity_execution_level_and_long_paths(self):
        self.assertEqual(resource_names(RT_MANIFEST), [1])
        root = ElementTree.fromstring(resource(RT_MANIFEST, 1))
        self.assertEqual(root.tag, ASM_V1 + "assembly")
        identity = root.find(ASM_V1 + "assemblyIdentity")
        self.assertEqual(identity.attrib, {
            "type": "win32",
            "name": "TolvikSoftware.Holwerk",
            "version": "2.2.1.0",
            "processorArchitecture": "amd64",
        })
        level = root.find("/".join(ASM_V3 + part for part in (
            "trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel")))
        self.assertEqual(level.attrib, {"level": "asInvoker", "uiAccess": "false"})
        long_paths = root.find(ASM_V3 + "application/" + ASM_V3 + "windowsSettings/" +
                               SETTINGS_2016 + "longPathAware")
        self.assertIsNotNone(long_paths)
        self.assertEqual(long_paths.text.strip(), "true")

    def test_version_block_carries_versions_and_names(self):
        self.assertEqual(resource_names(RT_VERSION), [1])
        (root,) = version_nodes(resource(RT_VERSION, 1))
        key, fixed, _, children = root
        self.assertEqual(key, "VS_VERSION_INFO")
        (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, file_os, file_type,
         _, _, _) = struct.unpack("<13I", fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        # 2.2.1.0 twice, VOS_NT_WINDOWS32, VFT_APP.
        self.assertEqual((file_ms, file_ls, product_ms, product_ls, file_os, file_type),
                         ((2 << 16) | 2, 1 << 16, (2 << 16) | 2, 1 << 16, 0x00040004, 1))

        by_key = {node[0]: node for node in children}
        (table,) = by_key["StringFileInfo"][3]
        self.assertEqual(table[0].upper(), "040704B0")
        strings = {node[0]: node[1].decode("utf-16-le").rstrip("\0") for node in table[3]}
        expected = {
            "CompanyName": "Tolvik Software",
            "ProductName": "Holwerk",
            "InternalName": "holwerk",
            "OriginalFilename": "holwerk.exe",
            "FileDescription": "Holwerk - sicherer HTTP-/HTTPS-Dateidownload",
            "FileVersion": "2.2.1.0",
            "ProductVersion": "2.2.1.0",
        }
        self.assertEqual({key: strings.get(key) for key in expected}, expected)
        (translation,) = by_key["VarFileInfo"][3]
        self.assertEqual(struct.unpack("<HH", translation[1]), (0x0407, 1200))

    def test_one_icon_group_with_16_32_and_48_pixel_images(self):
        self.assertEqual(len(resource_names(RT_GROUP_ICON)), 1)
        group = resource(RT_GROUP_ICON, resource_names(RT_GROUP_ICON)[0])
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind), (0, 1))
        sizes = []
        for index in range(count):
            width, height, _, _, _, _, _, image_id = struct.unpack_from("<BBBBHHIH", group,
                                                                        6 + 14 * index)
            self.assertEqual(width, height)
            image = resource(RT_ICON, image_id)
            # Each image is a DIB of that width and twice its height (colour
            # rows and mask rows).
            header_size, dib_width, dib_height = struct.unpack_from("<Iii", image)
            self.assertEqual((header_size, dib_width, dib_height), (40, width, 2 * width))
            sizes.append(width)
        self.assertEqual(sorted(sizes), [16, 32, 48])


class IconSourceTest(unittest.TestCase):

    def test_committed_icon_is_what_its_script_draws(self):
        resources = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                 "resources")
        with tempfile.TemporaryDirectory() as folder:
            drawn = os.path.join(folder, "holwerk.ico")
            subprocess.run([sys.executable, os.path.join(resources, "make_icon.py"), drawn],
                           check=True)
            with open(drawn, "rb") as file:
                expected = file.read()
        with open(os.path.join(resources, "holwerk.ico"), "rb") as file:
            self.assertEqual(file.read(), expected)


if __name__ == "__main__":
    unittest.main()
