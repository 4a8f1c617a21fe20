"""Whole documents sent with quillbox-sendscan to the real receiver; the
stored pixels are decoded with libtiff (tiffcp) and poppler (pdftoppm) and
compared with the pages the simulator sent."""
import glob
import os
import re
import struct
import subprocess
import tempfile
import unittest

from receiver import SENDSCAN, Receiver, read_file, sendscan


def read_pbm(path):
    """(width, height, rows) of a binary PBM as pdftoppm and sendscan write it."""
    data = read_file(path, binary=True)
    header = re.match(rb"P4\s+(\d+)\s+(\d+)\s", data)
    return int(header.group(1)), int(header.group(2)), data[header.end():]


def tiff_pages(path):
    """Pixels of every page as (width, height, MSB-first rows, 1 = black)."""
    with tempfile.TemporaryDirectory() as scratch:
        plain = os.path.join(scratch, "plain.tif")
        # Uncompressed, and each page in one strip.
        subprocess.run(["tiffcp", "-c", "none", "-f", "msb2lsb", "-r", "1000000", path, plain],
                       check=True)
        data = read_file(plain, binary=True)
    endian = "<" if data[:2] == b"II" else ">"
    pages = []
    (offset,) = struct.unpack(endian + "I", data[4:8])
    while offset:
        (count,) = struct.unpack(endian + "H", data[offset:offset + 2])
        tags = {}
        for at in range(offset + 2, offset + 2 + 12 * count, 12):
            tag, kind = struct.unpack(endian + "HH", data[at:at + 4])
            # The first value, which for the tags read here is the only one.
            short = kind == 3
            (tags[tag],) = struct.unpack(endian + ("H" if short else "I"),
                                         data[at + 8:at + (10 if short else 12)])
        strip = data[tags[273]:tags[273] + tags[279]]
        if tags.get(262) == 1:  # black is zero: make 1 = black
            strip = bytes(b ^ 0xFF for b in strip)
        pages.append((tags[256], tags[257], strip))
        (offset,) = struct.unpack(endian + "I", data[offset + 2 + 12 * count:
                                                     offset + 6 + 12 * count])
    return pages


def pdf_pages(path, dpi):
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["pdftoppm", "-mono", "-r", str(dpi), path, scratch + "/p"], check=True)
        return [read_pbm(p) for p in sorted(glob.glob(scratch + "/p*.pbm"))]


EXTENSION = os.path.join(os.path.dirname(SENDSCAN), "tools/extension_example/libquern_ext_example.so")


def jfif(density=200):
    """A JPEG file as far as the receiver's check reads it."""
    return (b"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01" + struct.pack(">HH", density, density)
            + b"\x00\x00" + b"\x00" * 64 + b"\xFF\xD9")


def printer_pdf():
    """A one-page PDF 1.4 laid out as printers write it: the information
    object, with its creation date, just before the cross-reference table."""
    objects = [(1, b"<< /Type /Catalog /Pages 3 0 R >>"),
               (3, b"<< /Type /Pages /Count 1 /Kids [4 0 R] >>"),
               (4, b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 612 792] >>"),
               (2, b"<<\n/CreationDate (D:20261205120000)\n>>")]
    data, offsets = b"%PDF-1.4\n", {}
    for number, body in objects:
        offsets[number] = len(data)
        data += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(data)
    data += b"xref\n0 5\n0000000000 65535 f \n"
    data += b"".join(b"%010d 00000 n \n" % offsets[n] for n in range(1, 5))
    data += b"trailer\n<< /Size 5 /Root 1 0 R /Info 2 0 R >>\nstartxref\n%d\n%%%%EOF\n" % xref
    return data


class DocumentReceiver(Receiver):
    def __init__(self, settings="[DEBUG]\nTrace=2\n", extension="", env=None):
        super().__init__(settings=settings, env=env)
        self.folder = self.add_destination(1, "dest1", extension=extension)

    def files(self, folder=None):
        return sorted(os.listdir(folder or self.folder))


class ScanDocuments(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="qb-sent-")

    def test_raw_mmr_pages_arrive_as_one_file_with_the_sent_pixels(self):
        # A TIFF holds the very pixels sent; a PDF page drawn at 200 dpi
        # may differ in at most one pixel in a thousand.
        for form, count, ending in (("TIFF-G4MMR", 3, ".tif"), ("PDF-G4MMR", 2, ".pdf")):
            with self.subTest(form), DocumentReceiver() as receiver:
                saved = os.path.join(self.scratch, form)
                code, out = sendscan("raw", 1, "--pages", count, "--format", form, "--doc-name",
                                     "scan", "--save-pages", saved)
                self.assertEqual(code, 0, out)
                files = receiver.files()
                self.assertEqual(len(files), 1)
                self.assertTrue(files[0].endswith(ending), files)
                entry = ";%s;1;%s" % (files[0], receiver.folder)
                self.assertIn(entry, receiver.log_with(entry))
                self.assertEqual(receiver.temp_files(), [])
                sent = [read_pbm(p) for p in sorted(glob.glob(saved + "*.pbm"))]
                self.assertEqual(len(sent), count)
                stored = os.path.join(receiver.folder, files[0])
                if ending == ".tif":
                    self.assertTrue(tiff_pages(stored) == sent)
                    continue
                rendered = pdf_pages(stored, 200)
                self.assertEqual(len(rendered), count)
                self.assertEqual(rendered[0][:2], sent[0][:2])
                differing = sum(bin(a ^ b).count("1") for a, b in zip(rendered[0][2], sent[0][2]))
                self.assertLess(differing, sent[0][0] * sent[0][1] // 1000)


if __name__ == "__main__":
    unittest.main()
