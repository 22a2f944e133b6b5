-- wrk script of the persistent stage. Prints one line at the end:
--   RESULT requests duration_us socket_errors bad_status p50_us p99_us
-- WRK_POST names a form body: each request then posts it to SavePage, the
-- board turning over WRK_BOARDS boards from WRK_FIRST_BOARD so that none
-- fills up.
local post_file = os.getenv("WRK_POST")
local first_board = tonumber(os.getenv("WRK_FIRST_BOARD") or "0")
local boards = tonumber(os.getenv("WRK_BOARDS") or "1")

local body
if post_file then
  local file = assert(io.open(post_file, "rb"))
  body = file:read("*a")
  file:close()
end

local next_id = 0
function setup(thread)
  thread:set("id", next_id)
  next_id = next_id + 1
end

local counter = 0
local form = { ["Content-Type"] = "application/x-www-form-urlencoded" }

local function post()
  local board = first_board + (counter * 7 + (id or 0)) % boards
  return wrk.format("POST", "/cgi-bin/SavePage.exe?BoardNum=" .. board .. "&TextNum=-1", form, body)
end

function request()
  counter = counter + 1
  if body then return post() end
  return wrk.request()
end

function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("RESULT\t%d\t%d\t%d\t%d\t%d\t%d\n", summary.requests, summary.duration,
    e.connect + e.read + e.write + e.timeout, e.status, latency:percentile(50), latency:percentile(99)))
end
