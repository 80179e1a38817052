"""Checks answers of the endpoint against docs/api/openapi.yaml.

Usage: openapi_check.py OPENAPI_FILE < exchanges.json

Each exchange is {"label", "method", "route" (the path as the description
names it, "/api/v1/commands/{id}"), "status", "headers" ({name: value}),
"body"}, and for a path the description cannot name "response", the name
of the components' response it must be. Prints one finding a line; nothing when every answer is what its
route's description says: a status it lists, the headers it requires, the
media type it names and a body valid against its schema (the $refs into
status.schema.json resolved), and no body at all for HEAD. Every $ref of
the description must resolve, used or not.
"""

import json
import pathlib
import sys
import warnings

import jsonschema
import yaml

# RefResolver is the one way to resolve references that every jsonschema
# from 4.0 on has; later ones warn that it is old.
warnings.simplefilter("ignore", DeprecationWarning)


def resolver_for(document, uri, store):
    return jsonschema.RefResolver(uri, document, store=store)


def walk_refs(node, where):
    if isinstance(node, dict):
        if isinstance(node.get("$ref"), str):
            yield where, node["$ref"]
        for key, value in node.items():
            yield from walk_refs(value, where + "/" + str(key))
    elif isinstance(node, list):
        for i, value in enumerate(node):
            yield from walk_refs(value, where + "/" + str(i))


def check_refs(document, uri, resolver):
    found = []
    for where, ref in walk_refs(document, ""):
        try:
            with resolver.in_scope(uri):
                resolver.resolve(ref)
        except jsonschema.RefResolutionError as e:
            found.append("description %s: %s does not resolve: %s" % (where, ref, e))
    return found


def schema_findings(schema, value, resolver, label):
    validator = jsonschema.Draft202012Validator(schema, resolver=resolver)
    return ["%s: body %s: %s" % (label, "/".join(map(str, e.absolute_path)) or "(top)", e.message)
            for e in validator.iter_errors(value)]


def header_value(schema, text):
    if schema.get("type") == "integer":
        try:
            return int(text)
        except ValueError:
            return text
    return text


def described_response(exchange, document):
    """The response the exchange's route describes for its status, or a finding."""
    method = exchange["method"].lower()
    status = str(exchange["status"])
    if exchange.get("response"):
        # A path the endpoint does not have: answered as a named response.
        return {"$ref": "#/components/responses/" + exchange["response"]}, None
    item = document["paths"].get(exchange["route"])
    if item is None:
        return None, "no path %s is described" % exchange["route"]
    operation = item.get("get" if method == "head" else method)
    if operation is None:
        # A method the route does not take: refused as the method it takes
        # is (405, or 429 before it is looked at), never answered.
        operation = next(v for k, v in item.items() if k in ("get", "post"))
        if not status.startswith("4"):
            return None, "%s is answered %s, not refused" % (method.upper(), status)
    response = operation["responses"].get(status)
    if response is None:
        return None, "status %s is not described" % status
    return response, None


def check(exchange, document, resolver):
    label = exchange["label"]
    method = exchange["method"].lower()
    response, finding = described_response(exchange, document)
    if finding:
        return ["%s: %s" % (label, finding)]
    if "$ref" in response:
        response = resolver.resolve(response["$ref"])[1]
    found = []
    headers = {k.lower(): v for k, v in exchange["headers"].items()}
    for name, header in response.get("headers", {}).items():
        if "$ref" in header:
            header = resolver.resolve(header["$ref"])[1]
        value = headers.get(name.lower())
        if value is None:
            if header.get("required"):
                found.append("%s: header %s is missing" % (label, name))
            continue
        schema = header.get("schema", {})
        found += [f.replace(": body", ": header " + name, 1)
                  for f in schema_findings(schema, header_value(schema, value), resolver, label)]
    body = exchange["body"]
    if method == "head":
        if body:
            found.append("%s: HEAD answered a body of %d bytes" % (label, len(body)))
        return found
    content = response.get("content")
    if not content:
        if body:
            found.append("%s: a body where none is described" % label)
        return found
    media = headers.get("content-type", "").split(";")[0].strip()
    if media not in content:
        return found + ["%s: Content-Type %r, described: %s" % (label, media, ", ".join(content))]
    schema = content[media].get("schema", {})
    if media == "application/json":
        try:
            value = json.loads(body)
        except ValueError as e:
            return found + ["%s: the body is no JSON: %s" % (label, e)]
    else:
        value = body
    return found + schema_findings(schema, value, resolver, label)


def main():
    path = pathlib.Path(sys.argv[1]).resolve()
    document = yaml.safe_load(path.read_text())
    uri = path.as_uri()
    store = {}
    for other in path.parent.glob("*.json"):
        store[other.as_uri()] = json.loads(other.read_text())
        jsonschema.Draft202012Validator.check_schema(store[other.as_uri()])
    resolver = resolver_for(document, uri, store)
    found = check_refs(document, uri, resolver)
    for exchange in json.load(sys.stdin):
        found += check(exchange, document, resolver)
    print("\n".join(found))


if __name__ == "__main__":
    main()
