#pragma once

#include <QByteArray>

#include <optional>

// Answers compressed for clients that ask for it (Accept-Encoding: gzip):
// the metrics text of a large fleet shrinks to a tenth or less.

// Whether an Accept-Encoding value accepts gzip: "gzip" (or "x-gzip"), or
// else "*", listed with a q-value above 0. Names and parameters in any case.
bool AcceptsGzip(const QByteArray& acceptEncoding);
// The data as one gzip member (RFC 1952); none when zlib cannot compress.
std::optional<QByteArray> GzipCompressed(const QByteArray& data);
