-- Drives `kestal lsp` from inside Neovim, as an editor user would: open a
-- program with an error, wait for the diagnostic, fix the line, wait for the
-- diagnostics to clear, then ask hover and definition. Everything observed
-- is written as JSON to $KESTAL_RESULT; neovim_test.py judges it.
local kestal = os.getenv("KESTAL")
local source = os.getenv("KESTAL_SOURCE")
local result_path = os.getenv("KESTAL_RESULT")
local observed = { protocol_errors = {}, steps = {} }

local function save_and_quit()
  local file = io.open(result_path, "w")
  file:write(vim.fn.json_encode(observed))
  file:close()
  vim.cmd("qall!")
end

local function step(name, value)
  observed.steps[name] = value == nil and vim.NIL or value
end

vim.cmd("edit " .. vim.fn.fnameescape(source))
local buf = vim.api.nvim_get_current_buf()
local uri = vim.uri_from_bufnr(buf)

local exited = false
local client_id = vim.lsp.start_client({
  name = "kestal",
  cmd = { kestal, "lsp" },
  root_dir = vim.fn.fnamemodify(source, ":h"),
  on_error = function(code, err)
    table.insert(observed.protocol_errors, tostring(code) .. ": " .. vim.inspect(err))
  end,
  on_exit = function(code, signal)
    observed.exit_code = code
    observed.exit_signal = signal
    exited = true
  end,
})
if not client_id then
  table.insert(observed.protocol_errors, "the client did not start")
  save_and_quit()
  return
end
vim.lsp.buf_attach_client(buf, client_id)
local client = vim.lsp.get_client_by_id(client_id)

-- 1. The error's diagnostic.
local got = vim.wait(20000, function() return #vim.diagnostic.get(buf) > 0 end, 20)
if got then
  local d = vim.diagnostic.get(buf)[1]
  step("diagnostic", { line = d.lnum, column = d.col, end_column = d.end_col,
                       message = d.message, source = d.source })
else
  step("diagnostic", "timed out")
end

-- 2. Fix the line (an incremental change) and wait for the list to clear.
vim.api.nvim_buf_set_lines(buf, 6, 7, false, { "total = count + 1" })
local cleared = vim.wait(20000, function() return #vim.diagnostic.get(buf) == 0 end, 20)
step("cleared", cleared)

-- 3. Hover and definition requests.
local function request(method, line, character)
  local params = { textDocument = { uri = uri }, position = { line = line, character = character } }
  local response, err = client.request_sync(method, params, 20000, buf)
  if err then
    table.insert(observed.protocol_errors, method .. ": " .. vim.inspect(err))
    return nil
  end
  if response.err then
    table.insert(observed.protocol_errors, method .. ": " .. vim.inspect(response.err))
    return nil
  end
  return response.result
end

local hover_function = request("textDocument/hover", 5, 12)
step("hover_function", hover_function and hover_function.contents.value)
local hover_variable = request("textDocument/hover", 6, 9)
step("hover_variable", hover_variable and hover_variable.contents.value)
local definition = request("textDocument/definition", 5, 12)
if definition then
  local location = definition.uri and definition or definition[1]
  step("definition", { uri_matches = location.uri == uri,
                       line = location.range.start.line,
                       character = location.range.start.character,
                       end_character = location.range["end"].character })
end
-- A request the server does not know is an error answer, not a crash.
local unknown = client.request_sync("textDocument/completion",
  { textDocument = { uri = uri }, position = { line = 0, character = 0 } }, 20000, buf)
step("unknown_method_error", unknown and unknown.err and unknown.err.code)

-- 4. Shutdown and exit: the server's status must be 0.
client.stop()
vim.wait(20000, function() return exited end, 20)
save_and_quit()
