#!/bin/sh
# Remakes the signed demo of examples/: demo.jws and demo-nested.jws (the
# YAML demo as JSON, the nested run pointing at the signed copy), and
# demo-app.json, whose thumbprint store trusts the demo signer. The signer's
# key stays here with the tests; examples/ gets only its certificate's
# thumbprint (and the certificate inside each document's header).
# Usage: tests/host/signed_demo/make_signed_demo.sh [--new-key]
set -e
here=$(cd "$(dirname "$0")" && pwd)
examples="$here/../../../examples"
if [ "$1" = "--new-key" ] || [ ! -f "$here/demo-signer.pem" ]; then
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$here/demo-signer.pem"
    openssl req -x509 -new -key "$here/demo-signer.pem" -subj "/O=Velmarsh examples/CN=demo signer" \
        -days 3650 -outform DER -out "$here/demo-signer.der"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in demo demo-nested; do
    /usr/bin/python3 -c '
import json, sys, yaml
document = yaml.safe_load(open(sys.argv[1]))
nested = document.get("nested")
if isinstance(nested, dict) and "url" in nested:
    nested["url"] = nested["url"].replace("demo-nested.yaml", "demo-nested.jws")
json.dump(document, open(sys.argv[2], "w"))
' "$examples/$name.yaml" "$work/$name.json"
    node "$here/sign_workflow.js" "$here/demo-signer.pem" "$here/demo-signer.der" "$work/$name.json" \
        > "$examples/$name.jws"
done
thumbprint=$(openssl dgst -sha256 -binary "$here/demo-signer.der" | base64)
cat > "$examples/demo-app.json" <<JSON
{
  "thumbprintStores": {"demoSigner": {"sha256": "$thumbprint"}},
  "certificateStores": {"app": ["demoSigner"]}
}
JSON
