-- client start script
require "quest"
local version = "1.04"
function on_start()
  ui.show_notice("patch " .. version)
end
