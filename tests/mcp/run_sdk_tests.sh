#!/bin/sh
# Runs the SDK-driven tests of pendrel-mcp; exit status 77 (skipped) when the pinned client
# packages are not installed (`npm ci` in this folder, as .ci/run does).
cd "$(dirname "$0")" || exit 1
if [ ! -d node_modules/@modelcontextprotocol/sdk ] || [ ! -d node_modules/@modelcontextprotocol/client ]; then
  echo "skipped: the MCP client SDKs are not installed (run npm ci in tests/mcp)"
  exit 77
fi
exec node --test pendrel_mcp_test.mjs
