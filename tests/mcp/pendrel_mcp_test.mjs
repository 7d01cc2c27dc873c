// pendrel-mcp driven by the official MCP client SDKs against the real pendrel-desktop, with a
// LOCAL host in a temporary data directory: the tools and their schemas, each tool called,
// failures as tool errors, cancellation, concurrency and the stateless revision.
// PENDREL_MCP_BIN and PENDREL_DESKTOP_BIN name the built programs.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { Client as ModernClient } from '@modelcontextprotocol/client';
import { StdioClientTransport as ModernStdioTransport } from '@modelcontextprotocol/client/stdio';

const mcpBinary = process.env.PENDREL_MCP_BIN;
const desktopBinary = process.env.PENDREL_DESKTOP_BIN;
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'pendrel-mcp-'));
const dataDir = path.join(home, 'data');
const environment = {
  PATH: '/usr/local/bin:/usr/bin:/bin',
  HOME: home,
  PENDREL_LANG: 'en',
  PENDREL_DATA_DIR: dataDir,
};
let service;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function canConnect(socketPath) {
  return new Promise((resolve) => {
    const socket = net.connect(socketPath);
    socket.on('connect', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  });
}

function isRunning(pid) {
  try { process.kill(pid, 0); return true; } catch { return false; }
}

async function connectLegacy(extraEnvironment = {}) {
  const client = new Client({ name: 'pendrel-mcp-test', version: '1' });
  await client.connect(new StdioClientTransport({
    command: mcpBinary, args: [], env: { ...environment, ...extraEnvironment }, stderr: 'ignore',
  }));
  return client;
}

const exec = (client, command, options) =>
  client.callTool({ name: 'pendrel_exec', arguments: { host: 'here', command } }, undefined, options);

before(async () => {
  fs.mkdirSync(dataDir, { mode: 0o700 });
  const host = { id: 'loc1', name: 'here', address: 'localhost', port: 22, username: 'tester',
                 protocol: 'LOCAL', tags: [], cli: true };
  fs.writeFileSync(path.join(dataDir, 'hosts.json'), JSON.stringify({ version: 1, hosts: [host] }));
  service = spawn(desktopBinary, ['serve'], { env: environment, stdio: 'ignore' });
  for (let tries = 0; !(await canConnect(path.join(dataDir, 'run', 'cli.sock'))); ++tries) {
    assert.ok(tries < 500, 'pendrel-desktop serve did not open its socket');
    await sleep(20);
  }
});

after(async () => {
  if (service && service.exitCode === null) {
    const exited = new Promise((resolve) => service.on('exit', resolve));
    service.kill('SIGTERM');
    await exited;
  }
  fs.rmSync(home, { recursive: true, force: true });
});

describe('the handshake revision, through @modelcontextprotocol/sdk', () => {
  let client;
  before(async () => { client = await connectLegacy(); });
  after(async () => { await client.close(); });

  test('lists the four tools with their schemas and annotations', async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name),
                     ['pendrel_list_hosts', 'pendrel_exec', 'pendrel_upload', 'pendrel_download']);
    const byName = Object.fromEntries(tools.map((tool) => [tool.name, tool]));
    assert.deepEqual(byName.pendrel_exec.inputSchema.required, ['host', 'command']);
    assert.equal(byName.pendrel_exec.inputSchema.properties.terminal.type, 'boolean');
    assert.deepEqual(byName.pendrel_download.inputSchema.required, ['host', 'remote', 'local']);
    assert.equal(byName.pendrel_list_hosts.annotations.readOnlyHint, true);
    assert.equal(byName.pendrel_exec.annotations.destructiveHint, true);
    assert.match(byName.pendrel_exec.description, /never rewrite/);
    assert.match(byName.pendrel_exec.description, /background/);
    for (const tool of tools) assert.equal(tool.outputSchema.type, 'object');
  });

  test('calls every tool; a remote exit code is a success', async () => {
    const listed = await client.callTool({ name: 'pendrel_list_hosts', arguments: {} });
    assert.equal(listed.isError, false);
    assert.deepEqual(listed.structuredContent.hosts.map((host) => host.id), ['loc1']);
    assert.deepEqual(JSON.parse(listed.content[0].text), listed.structuredContent);

    const ran = await exec(client, 'printf out; printf err >&2\nexit 3');
    assert.equal(ran.isError, false);
    assert.equal(ran.structuredContent.exitCode, 3);
    assert.equal(ran.structuredContent.stdout, 'out');
    assert.equal(ran.structuredContent.stderr, 'err');
    assert.equal(ran.structuredContent.truncated, false);
    const controls = await exec(client, "printf 'a\\nb\\000c\\r\\n'");
    assert.equal(controls.structuredContent.stdout, 'a\nb\u0000c\r\n', 'one line on the pipe whatever the output');

    const source = path.join(home, 'source.txt');
    fs.writeFileSync(source, 'payload\n');
    const uploaded = await client.callTool({
      name: 'pendrel_upload', arguments: { host: 'loc1', local: source, remote: `${home}/copy.txt` } });
    assert.equal(uploaded.isError, false, JSON.stringify(uploaded));
    assert.equal(uploaded.structuredContent.bytes, 8);
    const downloaded = await client.callTool({
      name: 'pendrel_download',
      arguments: { host: 'here', remote: `${home}/copy.txt`, local: `${home}/./back.txt` } });
    assert.equal(downloaded.isError, false, JSON.stringify(downloaded));
    assert.equal(downloaded.structuredContent.local, `${home}/back.txt`);
    assert.equal(fs.readFileSync(path.join(home, 'back.txt'), 'utf8'), 'payload\n');

    const audit = fs.readFileSync(path.join(dataDir, 'logs', 'audit.jsonl'), 'utf8');
    assert.match(audit, /"caller":\["node"/, 'the audit names the client that started pendrel-mcp');
  });

  test('failures are tool errors with pendrel\'s codes and exit codes', async () => {
    const cases = [
      [{ host: 'nowhere', command: 'true' }, 'host_not_found', 2],
      [{ host: 'here', command: 'exit 0; shutdown -h now' }, 'command_blocked', 4],
      [{ host: 'here', command: ' \n ' }, 'usage', 1],
      [{ host: 'here' }, 'usage', 1],
      [{ host: 'here', command: 'true', sudo: true }, 'usage', 1],
    ];
    for (const [args, code, exitCode] of cases) {
      const result = await client.callTool({ name: 'pendrel_exec', arguments: args });
      assert.equal(result.isError, true, JSON.stringify(args));
      assert.equal(result.structuredContent.error, code, JSON.stringify(result));
      assert.equal(result.structuredContent.pendrelExitCode, exitCode);
      assert.ok(result.structuredContent.message.length > 0);
    }
    const relative = await client.callTool({
      name: 'pendrel_upload', arguments: { host: 'here', local: 'source.txt', remote: '/tmp/x' } });
    assert.equal(relative.structuredContent.error, 'usage');
    const missing = await client.callTool({
      name: 'pendrel_upload', arguments: { host: 'here', local: `${home}/absent`, remote: '/tmp/x' } });
    assert.equal(missing.structuredContent.error, 'path_not_found');
    await assert.rejects(client.callTool({ name: 'pendrel_shell', arguments: {} }), /unknown tool/);
  });

  test('calls run at once, each on its own connection', async () => {
    const started = Date.now();
    const results = await Promise.all(
      [1, 2, 3, 4].map((n) => exec(client, `sleep 1; echo ${n}`)));
    assert.deepEqual(results.map((result) => result.structuredContent.stdout), ['1\n', '2\n', '3\n', '4\n']);
    assert.ok(Date.now() - started < 3500, `four one-second calls took ${Date.now() - started} ms`);
  });

  test('progress while waiting, and cancelling ends the command on the host', async () => {
    const pidFile = path.join(home, 'sleep.pid');
    const controller = new AbortController();
    const progress = [];
    const call = exec(client, `sleep 60 & echo $! > ${pidFile}; wait`, {
      signal: controller.signal,
      onprogress: (update) => { progress.push(update); controller.abort(); },
    });
    await assert.rejects(call);
    assert.equal(progress.length, 1);
    assert.match(progress[0].message, /waiting for Pendrel/);
    const pid = Number(fs.readFileSync(pidFile, 'utf8'));
    for (let tries = 0; isRunning(pid); ++tries) {
      assert.ok(tries < 250, 'the remote sleep still runs after the cancellation');
      await sleep(20);
    }
    const audit = () => fs.readFileSync(path.join(dataDir, 'logs', 'audit.jsonl'), 'utf8');
    for (let tries = 0; !audit().includes('"outcome":"canceled"'); ++tries) {
      assert.ok(tries < 250, 'the audit log does not record the cancellation');
      await sleep(20);
    }
    const after = await exec(client, 'echo still here');
    assert.equal(after.structuredContent.stdout, 'still here\n', 'the server carries on');
  });
});

test('output is kept to its head and tail within PENDREL_MCP_MAX_OUTPUT', async () => {
  const client = await connectLegacy({ PENDREL_MCP_MAX_OUTPUT: '1000' });
  try {
    const result = await exec(client, 'seq 1 20000');
    const { stdout, truncated } = result.structuredContent;
    assert.equal(truncated, true);
    assert.ok(stdout.startsWith('1\n2\n3\n'));
    assert.ok(stdout.endsWith('19999\n20000\n'));
    assert.match(stdout, /characters left out here/);
    assert.ok(stdout.length < 1300, `${stdout.length} characters kept`);
  } finally {
    await client.close();
  }
});

test('the stateless revision, through @modelcontextprotocol/client pinned to 2026-07-28', async () => {
  const client = new ModernClient({ name: 'pendrel-mcp-test', version: '1' },
                                  { versionNegotiation: { mode: { pin: '2026-07-28' } } });
  await client.connect(new ModernStdioTransport({
    command: mcpBinary, args: [], env: environment, stderr: 'ignore' }));
  try {
    assert.equal(client.getNegotiatedProtocolVersion(), '2026-07-28');
    const { tools } = await client.listTools();
    assert.equal(tools.length, 4);
    const ran = await client.callTool({
      name: 'pendrel_exec', arguments: { host: 'here', command: 'echo modern; exit 3' } });
    assert.equal(ran.isError, false);
    assert.equal(ran.structuredContent.stdout, 'modern\n');
    assert.equal(ran.structuredContent.exitCode, 3);
    const missing = await client.callTool({
      name: 'pendrel_exec', arguments: { host: 'nowhere', command: 'true' } });
    assert.equal(missing.isError, true);
    assert.equal(missing.structuredContent.error, 'host_not_found');
  } finally {
    await client.close();
  }
});
