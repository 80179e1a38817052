"""openapi_check.py OPENAPI_FILE < exchanges.json: one finding a line for each
answer ({label, method, route as described, status, headers, body; "response"
names the components' response of a path not described}) that differs from its
route's description, and for each $ref of the description that does not resolve."""

import json
import pathlib
import sys
import warnings

import jsonschema
import yaml

# RefResolver is the one resolver of every jsonschema from 4.0 on; later ones warn.
warnings.simplefilter("ignore", DeprecationWarning)


def walk_refs(node, where=""):
    items = node.items() if isinstance(node, dict) else enumerate(node) if isinstance(node, list) else ()
    if isinstance(node, dict) and isinstance(node.get("$ref"), str):
        yield where, node["$ref"]
    for key, value in items:
        yield from walk_refs(value, "%s/%s" % (where, key))


def schema_findings(schema, value, resolver, what):
    return ["%s %s: %s" % (what, "/".join(map(str, e.absolute_path)) or "(top)", e.message)
            for e in jsonschema.Draft202012Validator(schema, resolver=resolver).iter_errors(value)]


def described_response(exchange, document):
    """The response described for the exchange's route and status, or a finding."""
    if exchange.get("response"):
        return {"$ref": "#/components/responses/" + exchange["response"]}, None
    method, status = exchange["method"].lower(), str(exchange["status"])
    item = document["paths"].get(exchange["route"])
    if item is None:
        return None, "no path %s is described" % exchange["route"]
    operation = item.get("get" if method == "head" else method)
    if operation is None:
        # A method the route does not take is refused as the one it takes is.
        operation = next(v for k, v in item.items() if k in ("get", "post"))
        if not status.startswith("4"):
            return None, "%s is answered %s, not refused" % (method.upper(), status)
    response = operation["responses"].get(status)
    return (response, None) if response else (None, "status %s is not described" % status)


def check(exchange, document, resolver):
    label, body = exchange["label"], exchange["body"]
    response, finding = described_response(exchange, document)
    if finding:
        return ["%s: %s" % (label, finding)]
    resolved = lambda node: resolver.resolve(node["$ref"])[1] if "$ref" in node else node
    response = resolved(response)
    found = []
    headers = {k.lower(): v for k, v in exchange["headers"].items()}
    for name, header in response.get("headers", {}).items():
        header, value = resolved(header), headers.get(name.lower())
        if value is None and header.get("required"):
            found.append("%s: header %s is missing" % (label, name))
        elif value is not None:
            schema = header.get("schema", {})
            try:
                value = int(value) if schema.get("type") == "integer" else value
            except ValueError:
                pass
            found += schema_findings(schema, value, resolver, "%s: header %s" % (label, name))
    content, head = response.get("content"), exchange["method"].lower() == "head"
    if head or not content:
        if body:
            found.append("%s: %s" % (label, "HEAD answered a body of %d bytes" % len(body)
                                     if head else "a body where none is described"))
        return found
    media = headers.get("content-type", "").split(";")[0].strip()
    if media not in content:
        return found + ["%s: Content-Type %r, described: %s" % (label, media, ", ".join(content))]
    try:
        value = json.loads(body) if media == "application/json" else body
    except ValueError as e:
        return found + ["%s: the body is no JSON: %s" % (label, e)]
    return found + schema_findings(content[media].get("schema", {}), value, resolver, label + ": body")


def main():
    path = pathlib.Path(sys.argv[1]).resolve()
    document, uri = yaml.safe_load(path.read_text()), path.as_uri()
    store = {other.as_uri(): json.loads(other.read_text()) for other in path.parent.glob("*.json")}
    for schema in store.values():
        jsonschema.Draft202012Validator.check_schema(schema)
    resolver = jsonschema.RefResolver(uri, document, store=store)
    found = []
    for where, ref in walk_refs(document):
        try:
            with resolver.in_scope(uri):
                resolver.resolve(ref)
        except jsonschema.RefResolutionError as e:
            found.append("description %s: %s does not resolve: %s" % (where, ref, e))
    for exchange in json.load(sys.stdin):
        found += check(exchange, document, resolver)
    print("\n".join(found))


if __name__ == "__main__":
    main()
