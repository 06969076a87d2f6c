#!/usr/bin/env python3
"""Writes a signed update manifest to standard output.

The manifest is a JSON object of two members: "signed", the base64 of the
payload's exact bytes, and "signature", the base64 of the payload's Ed25519
signature. The payload is a JSON object: "type" ("zorvi-update"), "version",
"archive" (the https address of KoboRoot.tgz), "size", "sha256",
"min_version" (the oldest installed version that may take it) and
"published". zorvid verifies the signature over the bytes it received before
it reads any of them.

  manifest.py --key KEY.pem --version 2.1.0 --archive KoboRoot.tgz \
      --url https://feed.example/zorvi/KoboRoot-2.1.0.tgz

The remaining options exist so that tests can write manifests that must be
refused: other sizes and hashes than the archive's, no signature at all.
"""
import argparse
import base64
import datetime
import hashlib
import json
import os
import subprocess
import sys
import tempfile


def sign(key, payload):
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "payload")
        target = os.path.join(scratch, "signature")
        with open(source, "wb") as out:
            out.write(payload)
        subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key,
                        "-in", source, "-out", target], check=True)
        with open(target, "rb") as signature:
            return signature.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--key", required=True, help="the Ed25519 private key (PEM)")
    parser.add_argument("--version", required=True)
    parser.add_argument("--archive", required=True, help="the KoboRoot.tgz it offers")
    parser.add_argument("--url", required=True, help="where the archive is published")
    parser.add_argument("--min-version", default="0", help="oldest version that may update")
    parser.add_argument("--size", type=int, help="a size other than the archive's")
    parser.add_argument("--sha256", help="a hash other than the archive's")
    parser.add_argument("--type", default="zorvi-update", help="another type of payload")
    parser.add_argument("--unsigned", action="store_true", help="no signature member")
    parser.add_argument("--pad", type=int, default=0, help="bytes of padding in the manifest")
    parser.add_argument("--tamper", metavar="VERSION",
                        help="sign, then change the payload's version to this one")
    arguments = parser.parse_args()

    with open(arguments.archive, "rb") as archive:
        content = archive.read()
    payload = json.dumps({
        "type": arguments.type,
        "version": arguments.version,
        "archive": arguments.url,
        "size": arguments.size if arguments.size is not None else len(content),
        "sha256": arguments.sha256 or hashlib.sha256(content).hexdigest(),
        "min_version": arguments.min_version,
        "published": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
    }, indent=1).encode()
    signature = sign(arguments.key, payload)
    if arguments.tamper:
        payload = payload.replace(b'"%s"' % arguments.version.encode(),
                                  b'"%s"' % arguments.tamper.encode(), 1)
    manifest = {"signed": base64.b64encode(payload).decode()}
    if not arguments.unsigned:
        manifest["signature"] = base64.b64encode(signature).decode()
    if arguments.pad:
        manifest["padding"] = "x" * arguments.pad
    json.dump(manifest, sys.stdout, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
