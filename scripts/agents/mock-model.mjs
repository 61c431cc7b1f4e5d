// A scripted model on 127.0.0.1:8787 for one agent run, then the agent itself.
//   node mock-model.mjs <script.json> <agent command...>
// The script is a JSON array of tool calls, [name, input, more members of the
// call where the API needs them], answered one a turn (the next one is the
// number of tool results the request already holds), then a final text. Every
// agent's model API is served, streamed: Anthropic Messages (POST /v1/messages),
// OpenAI Responses (POST /v1/responses), OpenAI Chat Completions (POST
// /v1/chat/completions, also unstreamed) and Gemini's Generative Language API
// (POST /v1beta/models/<model>:streamGenerateContent). A request that offers no
// tools is a side request of the agent's and gets the final text. Each
// request's offered tools and the answer go to standard error, to tell why a
// case failed. It ends with the agent's exit status.
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
  const step = nextStep(results, offeredTools(request));
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
  const step = nextStep(results, offeredTools(request));
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

// OpenAI Chat Completions, streamed, or as one JSON answer when the request asks for no stream.
function chatAnswer(request) {
  const results = (request.messages ?? []).filter((message) => message.role === 'tool').length;
  const step = nextStep(results, offeredTools(request));
  const message = step
    ? { role: 'assistant', content: null,
        tool_calls: [{ index: 0, id: `call_${results}`, type: 'function',
                       function: { name: step[0], arguments: JSON.stringify(step[1]) } }] }
    : { role: 'assistant', content: 'done' };
  const finish_reason = step ? 'tool_calls' : 'stop';
  const usage = { prompt_tokens: 1, completion_tokens: 1, total_tokens: 2 };
  const answer = { id: `chatcmpl_${results}`, created: 0, model: request.model, usage };
  if (request.stream !== true)
    return [step, JSON.stringify({ ...answer, object: 'chat.completion', choices: [{ index: 0, message, finish_reason }] }),
            'application/json'];
  const chunk = (choice) => `data: ${JSON.stringify({ ...answer, object: 'chat.completion.chunk', choices: [choice] })}\n\n`;
  return [step, chunk({ index: 0, delta: message, finish_reason: null }) + chunk({ index: 0, delta: {}, finish_reason }) +
          'data: [DONE]\n\n'];
}

// Gemini's Generative Language API: one candidate, streamed as bare data lines.
function geminiAnswer(request) {
  const results = (request.contents ?? []).flatMap((c) => c.parts ?? []).filter((part) => part.functionResponse).length;
  const step = nextStep(results, offeredTools(request));
  const part = step ? { functionCall: { name: step[0], args: step[1] } } : { text: 'done' };
  const chunk = { candidates: [{ content: { role: 'model', parts: [part] }, finishReason: 'STOP', index: 0 }],
                  usageMetadata: { promptTokenCount: 1, candidatesTokenCount: 1, totalTokenCount: 2 } };
  return [step, `data: ${JSON.stringify(chunk)}\n\n`];
}

// The names of the tools a request offers, in any of the APIs' forms.
const offeredTools = (request) => (request.tools ?? []).flatMap((tool) => tool.functionDeclarations ?? [tool])
  .map((tool) => tool.name ?? tool.function?.name ?? tool.type);

const answers = { '/v1/messages': anthropicAnswer, '/v1/responses': responsesAnswer, '/v1/chat/completions': chatAnswer };
// Gemini names the model in the path: /v1beta/models/<model>:streamGenerateContent.
const answerFor = (pathname) =>
  answers[pathname] ?? (/^\/v1beta\/models\/[^/]+:streamGenerateContent$/.test(pathname) ? geminiAnswer : undefined);

const server = createServer((req, res) => {
  let body = '';
  req.on('data', (chunk) => { body += chunk; });
  req.on('end', () => {
    const answer = answerFor(new URL(req.url, 'http://mock').pathname);
    if (req.method !== 'POST' || !answer) {
      console.error(`mock: ${req.method} ${req.url}: not served`);
      res.writeHead(404).end();
      return;
    }
    const request = JSON.parse(body);
    const [step, answerText, type = 'text/event-stream'] = answer(request);
    console.error(`mock: ${req.url} tools [${offeredTools(request).join(' ')}] -> ${step ? JSON.stringify(step) : 'text'}`);
    res.writeHead(200, { 'content-type': type, 'cache-control': 'no-cache' }).end(answerText);
  });
});

server.listen(8787, '127.0.0.1', () => {
  const child = spawn(agent[0], agent.slice(1), { stdio: 'inherit' });
  child.on('error', (error) => { console.error(`mock: ${agent[0]}: ${error.message}`); process.exit(127); });
  child.on('exit', (code, signal) => process.exit(code ?? 128 + constants.signals[signal]));
});
