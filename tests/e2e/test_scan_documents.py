"""Whole documents sent with quillbox-sendscan to the real receiver; the
stored pixels are decoded with libtiff (tiffcp) and poppler (pdftoppm) and
compared with the pages the simulator sent."""
import glob
import os
import struct
import subprocess
import tempfile
import unittest

from receiver import Receiver

SENDSCAN = os.environ.get(
    "QB_SENDSCAN",
    os.path.join(os.path.dirname(os.environ.get("QB_BINARY", os.path.join(
        os.path.dirname(__file__), "../../build/quillbox"))), "quillbox-sendscan"))


def sendscan(*args):
    result = subprocess.run([SENDSCAN, "--timeout", "10"] + [str(a) for a in args],
                            capture_output=True, text=True, timeout=120)
    return result.returncode, result.stdout


def read_pbm(path):
    with open(path, "rb") as handle:
        data = handle.read()
    fields, at = [], 0
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    assert fields[0] == b"P4"
    return int(fields[1]), int(fields[2]), data[at + 1:]


def tiff_pages(path):
    """Pixels of every page as (width, height, MSB-first rows, 1 = black)."""
    with tempfile.TemporaryDirectory() as scratch:
        plain = os.path.join(scratch, "plain.tif")
        subprocess.run(["tiffcp", "-c", "none", "-f", "msb2lsb", path, plain], check=True)
        with open(plain, "rb") as handle:
            data = handle.read()
    endian = "<" if data[:2] == b"II" else ">"
    pages = []
    (offset,) = struct.unpack(endian + "I", data[4:8])
    while offset:
        (count,) = struct.unpack(endian + "H", data[offset:offset + 2])
        tags = {}
        for i in range(count):
            tag, kind, n, value = struct.unpack(endian + "HHII", data[offset + 2 + 12 * i:
                                                                     offset + 14 + 12 * i])
            size = {3: 2, 4: 4}.get(kind, 4)
            if n * size > 4:
                fmt = endian + ("H" if kind == 3 else "I") * n
                values = list(struct.unpack(fmt, data[value:value + n * size]))
            else:
                raw = data[offset + 10 + 12 * i:offset + 14 + 12 * i]
                values = list(struct.unpack(endian + ("H" if kind == 3 else "I") * n,
                                            raw[:n * size]))
            tags[tag] = values
        strips = b"".join(data[o:o + c] for o, c in zip(tags[273], tags[279]))
        if tags.get(262, [0])[0] == 1:  # black is zero: make 1 = black
            strips = bytes(b ^ 0xFF for b in strips)
        pages.append((tags[256][0], tags[257][0], strips))
        (offset,) = struct.unpack(endian + "I", data[offset + 2 + 12 * count:
                                                     offset + 6 + 12 * count])
    return pages


def pdf_pages(path, dpi):
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["pdftoppm", "-mono", "-r", str(dpi), path, scratch + "/p"], check=True)
        return [read_pbm(p) for p in sorted(glob.glob(scratch + "/p*.pbm"))]


class DocumentReceiver(Receiver):
    def __init__(self, settings="[DEBUG]\nTrace=2\n"):
        super().__init__(settings=settings)
        self.folder = os.path.join(self.root, "srv/dest1")
        os.makedirs(self.folder)
        with open(os.path.join(self.data, "tvscan_f.bin"), "w") as handle:
            handle.write("1;%s;Front desk;;\n" % self.folder)

    def files(self, folder=None):
        return sorted(os.listdir(folder or self.folder))

    def temp_files(self):
        return [n for n in os.listdir(os.path.join(self.root, "tmp")) if n.startswith("rcvimg")]

    def log(self):
        path = os.path.join(self.data, "tvscanlog_f.bin")
        return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


class ScanDocuments(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="qb-sent-")

    def test_raw_mmr_pages_arrive_as_one_tiff_with_the_sent_pixels(self):
        with DocumentReceiver() as receiver:
            code, out = sendscan("raw", 1, "--pages", 3, "--doc-name", "scan",
                                 "--save-pages", self.scratch + "/page")
            self.assertEqual(code, 0, out)
            files = receiver.files()
            self.assertEqual(len(files), 1)
            pages = tiff_pages(os.path.join(receiver.folder, files[0]))
            self.assertEqual(len(pages), 3)
            sent = [read_pbm(p) for p in sorted(glob.glob(self.scratch + "/page*.pbm"))]
            self.assertEqual(len(sent), 3)
            for page, original in zip(pages, sent):
                self.assertTrue(page == original)
            self.assertIn(";%s;1;%s" % (files[0], receiver.folder), receiver.log())
            self.assertEqual(receiver.temp_files(), [])

    def test_raw_mh_one_file_per_page(self):
        with DocumentReceiver() as receiver:
            code, out = sendscan("raw", 1, "--pages", 2, "--per-page", "--format", "TIFF-G3MH",
                                 "--doc-name", "mh", "--save-pages", self.scratch + "/page")
            self.assertEqual(code, 0, out)
            files = receiver.files()
            self.assertEqual(len(files), 2, files)
            self.assertTrue(files[0].endswith("_001.tif") and files[1].endswith("_002.tif"))
            first = sorted(glob.glob(self.scratch + "/page*.pbm"))[0]
            self.assertEqual(tiff_pages(os.path.join(receiver.folder, files[0]))[0],
                             read_pbm(first))

    def test_pdf_format_makes_a_pdf_with_the_sent_pixels(self):
        with DocumentReceiver() as receiver:
            code, out = sendscan("raw", 1, "--pages", 2, "--format", "PDF-G4MMR",
                                 "--save-pages", self.scratch + "/page")
            self.assertEqual(code, 0, out)
            files = receiver.files()
            self.assertEqual(len(files), 1)
            self.assertTrue(files[0].endswith(".pdf"))
            rendered = pdf_pages(os.path.join(receiver.folder, files[0]), 200)
            sent = [read_pbm(p) for p in sorted(glob.glob(self.scratch + "/page*.pbm"))]
            self.assertEqual(len(rendered), 2)
            self.assertEqual(rendered[0][:2], sent[0][:2])
            differing = sum(bin(a ^ b).count("1") for a, b in zip(rendered[0][2], sent[0][2]))
            self.assertLess(differing, sent[0][0] * sent[0][1] // 1000)

    def test_file_road_tiff_and_name_collisions(self):
        with DocumentReceiver("[DEBUG]\nTrace=2\n[MANAGEMENT]\nOverWrite=0\n") as receiver:
            self.assertEqual(sendscan("raw", 1, "--doc-name", "src")[0], 0)
            source = os.path.join(self.scratch, "scan.tif")
            os.rename(os.path.join(receiver.folder, receiver.files()[0]), source)
            for _ in range(2):
                code, out = sendscan("send", 1, source)
                self.assertEqual(code, 0, out)
            self.assertEqual(receiver.files(), ["scan(1).tif", "scan.tif"])
            with open(source, "rb") as a, open(os.path.join(receiver.folder, "scan.tif"),
                                               "rb") as b:
                self.assertEqual(a.read(), b.read())

    def test_attribute_file_name_and_sub_folder(self):
        with DocumentReceiver() as receiver:
            self.assertEqual(sendscan("raw", 1, "--doc-name", "src")[0], 0)
            source = os.path.join(self.scratch, "scan.tif")
            os.rename(os.path.join(receiver.folder, receiver.files()[0]), source)
            os.makedirs(os.path.join(receiver.folder, "sub"))
            code, out = sendscan("send", 1, source, "--file-name", "Invoice",
                                 "--sub-folder", "sub")
            self.assertEqual(code, 0, out)
            self.assertEqual(receiver.files(os.path.join(receiver.folder, "sub")),
                             ["Invoice_000.tif"])

    def test_checksum_mismatch_and_dropped_connection_leave_nothing(self):
        with DocumentReceiver() as receiver:
            sendscan("raw", 1, "--checksum", 1234)
            self.assertEqual(receiver.files(), [])
            sendscan("raw", 1, "--pages", 3, "--drop-after", 300000)
            receiver.wait_for_trace("Connection closed on socket", count=2)
            self.assertEqual(receiver.files(), [])
            self.assertEqual(receiver.temp_files(), [])


if __name__ == "__main__":
    unittest.main()
