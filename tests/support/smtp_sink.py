"""A small SMTP server for the mail tests.

    smtp_sink.py <folder> accept|refuse|tempfail [options]

Listens on a free port of 127.0.0.1 and prints "PORT <n>" once ready. In
accept mode every message is written as <folder>/NNNN.json: the envelope,
the raw message, the decoded headers, the decoded text body and the
attachments. In refuse mode every message is answered with 554, in tempfail
mode with 451.

Options:
  --refuse-rcpt ADDRESS   answer RCPT for that address with 550 (repeatable)
  --refuse-body WORD      answer the data of a message holding WORD with 554
  --cert FILE --key FILE  the server's certificate and key, for TLS
  --starttls              offer STARTTLS and require it before MAIL
  --implicit-tls          TLS from the first byte
  --user U --password P   require a login (AUTH PLAIN or LOGIN) with these
  --drop-after STEP       close the connection at ehlo, auth or data
"""

import asyncio
import base64
import email
import email.policy
import itertools
import json
import argparse
import os
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder, mode, refused_rcpts, refuse_body, drop_after=None):
        self.drop_after = drop_after
        self.folder = folder
        self.mode = mode
        self.refused_rcpts = set(refused_rcpts)
        self.refuse_body = refuse_body.encode() if refuse_body else None
        self.counter = itertools.count(1)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if self.drop_after == "ehlo":
            server.transport.close()
        session.host_name = hostname
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused_rcpts:
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.drop_after == "data":
            server.transport.close()
            return "250 OK"
        if self.mode == "refuse":
            return "554 Transaction failed"
        if self.mode == "tempfail":
            return "451 4.3.0 Try again later"
        raw = envelope.original_content
        if self.refuse_body and self.refuse_body in raw:
            return "554 5.6.0 Message refused"
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


class Login:
    def __init__(self, user, password, drop):
        self.user = user.encode()
        self.password = password.encode()
        self.drop = drop

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if self.drop:
            server.transport.close()
            return AuthResult(success=False, handled=True)
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        return AuthResult(success=ok, handled=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("mode", choices=["accept", "refuse", "tempfail"])
    parser.add_argument("--refuse-rcpt", action="append", default=[])
    parser.add_argument("--refuse-body")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--drop-after", choices=["ehlo", "auth", "data"])
    args = parser.parse_args()
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Sink(args.folder, args.mode, args.refuse_rcpt, args.refuse_body, args.drop_after)
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    options = dict(decode_data=False, enable_SMTPUTF8=True)
    if args.starttls:
        options.update(tls_context=context, require_starttls=True)
    if args.user is not None:
        options.update(authenticator=Login(args.user, args.password, args.drop_after == "auth"), auth_required=True,
                       auth_require_tls=not args.implicit_tls)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, **options), "127.0.0.1", 0,
        ssl=context if args.implicit_tls else None))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    main()
