// A stdio MCP server named tolvex with one tool, query_run, which answers
// every call with the same row. Messages are JSON-RPC, one a line.
import { createInterface } from 'node:readline';

const tools = [{
  name: 'query_run',
  description: 'Runs a dataset query',
  inputSchema: { type: 'object', properties: { sql: { type: 'string' } }, required: ['sql'] },
}];

const results = {
  initialize: (params) => ({
    protocolVersion: params.protocolVersion,
    capabilities: { tools: {} },
    serverInfo: { name: 'tolvex', version: '1.0.0' },
  }),
  'tools/list': () => ({ tools }),
  'tools/call': () => ({ content: [{ type: 'text', text: 'one row: 1' }] }),
  ping: () => ({}),
};

const send = (message) => process.stdout.write(`${JSON.stringify({ jsonrpc: '2.0', ...message })}\n`);

createInterface({ input: process.stdin }).on('line', (line) => {
  const message = JSON.parse(line);
  if (message.id === undefined) return;  // a notification: nothing to answer
  const result = results[message.method];
  if (result) send({ id: message.id, result: result(message.params ?? {}) });
  else send({ id: message.id, error: { code: -32601, message: `no method ${message.method}` } });
});
