"""A small SMTP server for the mail tests.

    smtp_sink.py <folder> accept|refuse

Listens on a free port of 127.0.0.1 and prints "PORT <n>" once ready. In
accept mode every message is written as <folder>/NNNN.json: the envelope,
the raw message, the decoded headers, the decoded text body and the
attachments. In refuse mode every message is answered with 554.
"""

import asyncio
import base64
import email
import email.policy
import itertools
import json
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder, refuse):
        self.folder = folder
        self.refuse = refuse
        self.counter = itertools.count(1)

    async def handle_DATA(self, server, session, envelope):
        if self.refuse:
            return "554 Transaction failed"
        raw = envelope.original_content
        message = email.message_from_bytes(raw, policy=email.policy.default)
        headers = {}
        for name, value in message.items():
            headers.setdefault(name.lower(), []).append(str(value))
        text = ""
        attachments = []
        for part in message.walk():
            if part.is_multipart():
                continue
            if part.get_content_disposition() == "attachment":
                attachments.append({
                    "filename": part.get_filename(),
                    "data": base64.b64encode(part.get_payload(decode=True) or b"").decode(),
                })
            elif part.get_content_type() == "text/plain":
                text = part.get_content()
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "raw": raw.decode("utf-8", "replace"),
            "headers": headers,
            "text": text,
            "attachments": attachments,
            "defects": [str(d) for d in message.defects],
        }
        path = os.path.join(self.folder, "%04d.json" % next(self.counter))
        with open(path + ".tmp", "w", encoding="utf-8") as out:
            json.dump(record, out)
        os.rename(path + ".tmp", path)
        return "250 OK"


def main():
    folder, mode = sys.argv[1], sys.argv[2]
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Sink(folder, mode == "refuse")
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, decode_data=False, enable_SMTPUTF8=True),
        "127.0.0.1", 0))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    main()
