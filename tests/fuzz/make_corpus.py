#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

The seeds are what the tests and the printer simulator send: whole
conversations on both ports, the parts they are made of, the files that
pass the received-file checks and the data files of a test root. Inputs
that a fuzzing campaign found are kept beside them under names of their
own (regression-*), which this script never touches.

Usage: tests/fuzz/make_corpus.py   (from anywhere; rewrites seed-* files)
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

CAP, PARA, PARA2 = 0x3400, 0x3401, 0x3402
IMAGE_HEADER, PAGE_END, DATA_END, PAGE_DELETE, CHECKSUM = 0x3001, 0x3002, 0x3003, 0x3004, 0x3005
DIR_NAME, DIR_LIST = 0x3800, 0x3801


def be16(value):
    return struct.pack(">H", value & 0xFFFF)


def frame(body):
    return be16(len(body)) + body


def words(*values):
    return b"".join(be16(v) for v in values)


def text_at(buffer, at, text):
    data = (text if isinstance(text, bytes) else text.encode()) + b"\0"
    if len(buffer) < at + len(data):
        buffer.extend(bytes(at + len(data) - len(buffer)))
    buffer[at:at + len(data)] = data


# --- meta-data records (layout of storage/meta_data.h) ---------------------

def meta_record(tag, texts, number=0, length=None):
    record = bytearray(26)
    record[0:9] = tag.encode()
    struct.pack_into(">H", record, 12, number)
    for index, text in texts.items():
        struct.pack_into(">H", record, 14 + 2 * index, len(record))
        text_at(record, len(record), text)
    struct.pack_into(">H", record, 10, len(record) if length is None else length)
    return bytes(record)


def attributes(sub_folder="", file_name=""):
    texts = {}
    if sub_folder:
        texts[0] = sub_folder
    if file_name:
        texts[1] = file_name
    return meta_record("QNA_ATTR:", texts)


def sender(name):
    return b"QNN_SKAN:" + name.encode() + b"\0"


def fax_notice(date="2021.03.04.05.06", who="FAX SENDER"):
    return meta_record("QNF_NOTI:", {0: date, 1: who, 2: "0312345678", 3: "box",
                                     4: "/srv/fax/in.tif", 5: "note"}, number=3)


# --- requests (as tools/sendscan builds them) -------------------------------

def cap(major, minor=0, key=None):
    return words(CAP, major, minor) + (be16(key) if key is not None else b"")


def para(destination):
    return words(PARA, destination)


def para2(destination, sender_name="", meta=b""):
    body = bytearray(26)
    struct.pack_into(">HH", body, 0, PARA2, destination)
    if sender_name:
        struct.pack_into(">H", body, 4, 8)
        name = (sender_name if isinstance(sender_name, bytes) else sender_name.encode())[:16]
        body[8:8 + len(name)] = name
    if meta:
        struct.pack_into(">H", body, 6, 26)
        body += meta
        if len(body) < 540:
            body += bytes(540 - len(body))
    return bytes(body)


def image_header(data_form, document, data_length=0, format_name="", width=0, height=0,
                 resolution=0x0200, continuation=0):
    body = bytearray(84)
    struct.pack_into(">HHHI", body, 0, IMAGE_HEADER, data_form, 0, data_length)
    struct.pack_into(">HHH", body, 10, resolution, width, height)
    struct.pack_into(">HH", body, 22, 1, 0)
    struct.pack_into(">H", body, 32, continuation)
    at = 36
    if format_name:
        struct.pack_into(">H", body, 4, at)
        text_at(body, at, format_name)
        at += len(format_name) + 1
    struct.pack_into(">H", body, 34, at)
    text_at(body, at, document)
    return bytes(body)


def data_packets(data, size=24576):
    packets = [data[i:i + size] for i in range(0, len(data), size)]
    return b"".join(frame(p) for p in packets)


def checksum(data):
    return sum(data) & 0xFFFF


# --- files that pass the received-file checks -------------------------------

def tiff(big_endian=False, numerator=200, denominator=1):
    e = ">" if big_endian else "<"
    out = (b"MM" if big_endian else b"II") + struct.pack(e + "HI", 42, 8)
    value_area = 8 + 2 + 12 * 2 + 4
    out += struct.pack(e + "H", 2)
    out += struct.pack(e + "HHII", 0x0100, 4, 1, 1728)
    out += struct.pack(e + "HHII", 0x011A, 5, 1, value_area)
    out += struct.pack(e + "I", 0) + struct.pack(e + "II", numerator, denominator)
    return out


def jfif(density=200):
    return (b"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01" + struct.pack(">HH", density, density)
            + b"\x00\x00" + b"\x00" * 64 + b"\xFF\xD9")


def printer_pdf(minor=4):
    objects = [(1, b"<< /Type /Catalog /Pages 3 0 R >>"),
               (3, b"<< /Type /Pages /Count 1 /Kids [4 0 R] >>"),
               (4, b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 612 792] >>"),
               (2, b"<<\n/CreationDate (D:20261205120000)\n>>")]
    data, offsets = b"%%PDF-1.%d\n" % minor, {}
    for number, body in objects:
        offsets[number] = len(data)
        data += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(data)
    data += b"xref\n0 5\n0000000000 65535 f \n"
    data += b"".join(b"%010d 00000 n \n" % offsets[n] for n in range(1, 5))
    data += b"trailer\n<< /Size 5 /Root 1 0 R /Info 2 0 R >>\nstartxref\n%d\n%%%%EOF\n" % xref
    return data


# --- conversations ----------------------------------------------------------

def raw_page(width=64, height=24, page=0, fmt="TIFF-G4MMR", continuation=0, name="SCAN"):
    line_bytes = width // 8
    pixels = bytes(((x * 7 + y * 3 + page) % 5 == 0) * 0xF0 for y in range(height)
                   for x in range(line_bytes))
    return (frame(image_header(0, name, len(pixels), fmt, width, height,
                               continuation=continuation))
            + data_packets(pixels) + frame(words(PAGE_END, 0)))


def raw_document(pages=1, fmt="TIFF-G4MMR", per_page=False):
    out = frame(cap(1)) + frame(para(1))
    for page in range(pages):
        out += raw_page(page=page, fmt=fmt, continuation=1 if page and not per_page else 0)
    return out + frame(words(CHECKSUM, 0)) + frame(words(DATA_END, 0))


def file_document(files, destination=1, sender_name="", meta=b"", major=2, sum_ok=True):
    out = frame(cap(major)) + frame(para2(destination, sender_name, meta))
    total = b""
    for name, data in files:
        form = {b".tif": 1, b".jpg": 4, b".pdf": 5}[os.path.splitext(
            name if isinstance(name, bytes) else name.encode())[1]]
        out += frame(image_header(form, name, len(data))) + data_packets(data)
        out += frame(words(PAGE_END, 0))
        total += data
    out += frame(words(CHECKSUM, checksum(total) if sum_ok else checksum(total) ^ 1))
    return out + frame(words(DATA_END, 0))


def job_stream_seeds():
    notice = para2(0, meta=fax_notice())
    return {
        "raw-mmr": raw_document(),
        "raw-two-pages": raw_document(pages=2),
        "raw-mh-per-page": raw_document(pages=2, fmt="TIFF-G3MH", per_page=True),
        "raw-pdf": raw_document(fmt="PDF-G4MMR"),
        "file-tiff": file_document([("scan.tif", tiff())]),
        "file-tiff-two": file_document([("page1.tif", tiff()), ("page2.tif", tiff(True))]),
        "file-jpeg": file_document([("photo.jpg", jfif())], sender_name="FRONTDESK"),
        "file-pdf": file_document([("doc.pdf", printer_pdf())]),
        "file-attributes": file_document([("scan.tif", tiff())],
                                         meta=attributes("sub", "named")),
        "file-sender": file_document([("scan.pdf", printer_pdf())], meta=sender("SCANNER-7")),
        "file-bad-sum": file_document([("scan.tif", tiff())], sum_ok=False),
        "file-deferred": file_document([("scan.tif", tiff(numerator=1200))], destination=2),
        "page-delete": (frame(cap(1)) + frame(para(1)) + raw_page() +
                        frame(words(PAGE_DELETE, 0)) + raw_page() + frame(words(DATA_END, 0))),
        "notice": frame(cap(1)) + frame(notice),
        "refused": frame(cap(3)) + frame(para(9)) + frame(image_header(1, "x.tif", 10)),
    }


def direct_stream_seeds():
    out = {}
    hello = frame(cap(3, 0, 77))
    out["folder-check"] = hello + frame(words(PARA2, 1, 0, 0))
    out["folder-name"] = hello + frame(words(DIR_NAME, 1)) + frame(words(DIR_NAME, 7))
    listing = bytearray(words(DIR_LIST, 4))
    text_at(listing, 4, "/")
    parent = bytearray(words(DIR_LIST, 4))
    text_at(parent, 4, "/tmp/..")
    out["folder-list"] = hello + frame(bytes(listing)) + frame(bytes(parent))
    out["odd-requests"] = (hello + frame(words(DIR_LIST, 900)) + frame(be16(DIR_NAME) + b"\x01")
                           + frame(words(PARA2, 1, 0, 26)))
    out["new-key"] = hello + frame(cap(3, 0, 5)) + frame(words(DIR_NAME, 2))
    return out


def para_request_seeds():
    # Control byte: handler (bits 0-1: PARA, PARA2, direct PARA2), version
    # (bits 2-3: 1.0, 2.0, 3.0, 3.1), peer (bit 4: the PC itself).
    return {
        "para": bytes([0 | 0 << 2]) + para(1),
        "para2-sender": bytes([1 | 1 << 2]) + para2(1, "FRONTDESK"),
        "para2-attributes": bytes([1 | 1 << 2]) + para2(1, meta=attributes("sub", "named")),
        "para2-sender-record": bytes([1 | 1 << 2]) + para2(2, meta=sender("SCANNER-7")),
        "para2-long-meta": bytes([1 | 1 << 2]) + para2(1, meta=meta_record(
            "QNA_ATTR:", {1: "x" * 200, 2: "a", 3: "b", 4: "c", 5: "d"}, length=700)),
        "para2-notice": bytes([1 | 1 << 2]) + para2(0, meta=fax_notice()),
        "direct-para2": bytes([2 | 2 << 2]) + words(PARA2, 1, 0, 0),
        "refused-peer": bytes([0 | 1 << 4]) + para(1),
    }


def folder_request_seeds():
    listing = bytearray(words(DIR_LIST, 4))
    text_at(listing, 4, "/")
    return {"dir-name": words(DIR_NAME, 1), "dir-list": bytes(listing),
            "dir-list-usr": bytes(listing[:4]) + b"/usr/\0",
            "dir-list-outside": words(DIR_LIST, 900)}


SETTINGS = (b"[LANGUAGE]\nLanguage=?\n[MANAGEMENT]\nHDD=80\nReceive=1\nList=100\nOverWrite=0\n"
            b"MaxConnectNum=30\n[IDS]\nTOVScan=1\nDepName=\"SALES\"\n[DEBUG]\nTrace=0\n"
            b"[SCANNERADDR]\nScanner1=printer[127.0.0.2],12,10:11:12\nScanner2=127.0.0.3,7,09:00:00\n"
            b"[SCANJOB]\nJobCount=9999\n")


def main():
    seeds = {
        "fuzz_job_stream": job_stream_seeds(),
        "fuzz_job_stream_alt": dict(job_stream_seeds(), **{
            # Code page 932: names whose second bytes are "\\" or "|".
            "file-cp932": file_document([(b"\x83\x5c\x83\x7c.tif", tiff())],
                                        sender_name=b"\x83\x5c\x83\x5c"),
            "file-cp932-attributes": file_document(
                [("scan.pdf", printer_pdf())],
                meta=meta_record("QNA_ATTR:", {0: b"sub", 1: b"\x95\x5c\x8e\xa6"}))}),
        "fuzz_direct_stream": direct_stream_seeds(),
        "fuzz_image_header": {
            "raw": image_header(0, "SCAN", 128, "TIFF-G4MMR", 64, 16),
            "tiff": image_header(1, "scan.tif", 46), "jpeg": image_header(4, "photo.jpg", 86),
            "pdf": image_header(5, "doc.pdf", 600, continuation=1),
            "long-name": image_header(1, "n" * 255 + ".tif", 46)},
        "fuzz_para_request": para_request_seeds(),
        "fuzz_folder_request": folder_request_seeds(),
        "fuzz_file_checks": {"tiff-ii": tiff(), "tiff-mm": tiff(True, 7200, 36),
                             "jpeg": jfif(), "pdf-14": printer_pdf(4), "pdf-12": printer_pdf(2)},
        "fuzz_meta_data": {"attributes": attributes("sub/../x", "named"),
                           "notice": fax_notice(), "notice-odd-date": fax_notice("2021.13.40.25.61"),
                           "sender": sender("SCANNER-7"),
                           "register": meta_record("QNREG_DB:", {0: "db"}, length=600)},
        "fuzz_profile": {"settings": SETTINGS,
                         "quoted": b"[management]\r\n  OverWrite = \" 0 \" \r\n;c\n[IDS]\nDepName=ab"},
        "fuzz_destinations": {
            "list": b"1;/tmp/qbfuzz-destinations/one;Front desk;;\n"
                    b"2;/tmp/qbfuzz-destinations/two;Accounts;1234;libx.so\n3;/tmp/qbfuzz-none;;;\n",
            "odd": b"0001;/tmp/qbfuzz-destinations/one/sub\n-1;;;\n 2 ;/tmp/qbfuzz-destinations/two/;;"
                   b"123456789;\n"},
        "fuzz_scanner_list": {"settings": SETTINGS,
                              "full": b"[SCANNERADDR]\n" + b"".join(
                                  b"Scanner%d=127.0.0.%d,%d,10:00:00\n" % (i, i % 250 + 2, i)
                                  for i in range(1, 112))},
    }
    for target, inputs in seeds.items():
        folder = os.path.join(CORPUS, target)
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(folder):
            if name.startswith("seed-"):
                os.remove(os.path.join(folder, name))
        for name, data in inputs.items():
            with open(os.path.join(folder, "seed-" + name), "wb") as handle:
                handle.write(data)


if __name__ == "__main__":
    main()
