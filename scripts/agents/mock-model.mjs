// A scripted model on 127.0.0.1:8787 for one agent run, then the agent itself.
//   node mock-model.mjs <script.json> <agent command...>
// The script is a JSON array of tool calls, [name, input, more members of the
// call where the API needs them], answered one a turn (the next one is the
// number of tool results the request already holds), then a final text. Both
// model APIs are served, streamed: Anthropic Messages (POST /v1/messages) and
// OpenAI Responses (POST /v1/responses). Each request's offered tools and the
// answer go to standard error, to tell why a case failed. It ends with the
// agent's exit status.
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { constants } from 'node:os';
import { createServer } from 'node:http';

const [scriptPath, ...agent] = process.argv.slice(2);
const steps = JSON.parse(readFileSync(scriptPath, 'utf8'));

const sse = (events) => events.map(([type, data]) => `event: ${type}\ndata: ${JSON.stringify({ type, ...data })}\n\n`).join('');

function nextStep(toolResults, offered) {
  if (offered.length === 0 || toolResults >= steps.length) return null;  // a side request, or the end
  return steps[toolResults];
}

function anthropicAnswer(request) {
  const results = request.messages.flatMap((m) => (Array.isArray(m.content) ? m.content : []))
    .filter((block) => block.type === 'tool_result').length;
  const step = nextStep(results, request.tools ?? []);
  const block = step
    ? [{ type: 'tool_use', id: `toolu_${results}`, name: step[0], input: {} },
       { type: 'input_json_delta', partial_json: JSON.stringify(step[1]) }]
    : [{ type: 'text', text: '' }, { type: 'text_delta', text: 'done' }];
  const usage = { input_tokens: 1, output_tokens: 1 };
  return [step, sse([
    ['message_start', { message: { id: `msg_${results}`, type: 'message', role: 'assistant', model: request.model,
                                   content: [], stop_reason: null, stop_sequence: null, usage } }],
    ['content_block_start', { index: 0, content_block: block[0] }],
    ['content_block_delta', { index: 0, delta: block[1] }],
    ['content_block_stop', { index: 0 }],
    ['message_delta', { delta: { stop_reason: step ? 'tool_use' : 'end_turn', stop_sequence: null }, usage }],
    ['message_stop', {}],
  ])];
}

function responsesAnswer(request) {
  const results = (request.input ?? []).filter((item) => item.type?.endsWith('_call_output')).length;
  const step = nextStep(results, request.tools ?? []);
  const item = step
    ? { type: 'function_call', id: `fc_${results}`, call_id: `call_${results}`, name: step[0],
        arguments: JSON.stringify(step[1]), status: 'completed', ...step[2] }
    : { type: 'message', id: `msg_${results}`, role: 'assistant', status: 'completed',
        content: [{ type: 'output_text', text: 'done', annotations: [] }] };
  const usage = { input_tokens: 1, input_tokens_details: { cached_tokens: 0 }, output_tokens: 1,
                  output_tokens_details: { reasoning_tokens: 0 }, total_tokens: 2 };
  const response = { id: `resp_${results}`, object: 'response', status: 'completed', model: request.model };
  return [step, sse([
    ['response.created', { response: { ...response, status: 'in_progress' } }],
    ['response.output_item.done', { output_index: 0, item }],
    ['response.completed', { response: { ...response, output: [item], usage } }],
  ])];
}

const answers = { '/v1/messages': anthropicAnswer, '/v1/responses': responsesAnswer };

const server = createServer((req, res) => {
  let body = '';
  req.on('data', (chunk) => { body += chunk; });
  req.on('end', () => {
    const answer = answers[new URL(req.url, 'http://mock').pathname];
    if (req.method !== 'POST' || !answer) {
      console.error(`mock: ${req.method} ${req.url}: not served`);
      res.writeHead(404).end();
      return;
    }
    const request = JSON.parse(body);
    const [step, stream] = answer(request);
    const offered = (request.tools ?? []).map((tool) => tool.name ?? tool.type);
    console.error(`mock: ${req.url} tools [${offered.join(' ')}] -> ${step ? JSON.stringify(step) : 'text'}`);
    res.writeHead(200, { 'content-type': 'text/event-stream', 'cache-control': 'no-cache' }).end(stream);
  });
});

server.listen(8787, '127.0.0.1', () => {
  const child = spawn(agent[0], agent.slice(1), { stdio: 'inherit' });
  child.on('error', (error) => { console.error(`mock: ${agent[0]}: ${error.message}`); process.exit(127); });
  child.on('exit', (code, signal) => process.exit(code ?? 128 + constants.signals[signal]));
});
