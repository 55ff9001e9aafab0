-- quest 003
quest = {
  id = 303,
  level = 15,
  steps = {
    { talk = "npc_061", kill = "goblin", count = 12, reward = 8642 },
    { talk = "npc_064", kill = "orc", count = 19, reward = 7059 },
    { talk = "npc_294", kill = "bat", count = 15, reward = 4031 },
    { talk = "npc_281", kill = "slime", count = 8, reward = 8828 },
    { talk = "npc_106", kill = "skeleton", count = 6, reward = 1620 },
    { talk = "npc_161", kill = "wolf", count = 9, reward = 2808 },
    { talk = "npc_170", kill = "bat", count = 15, reward = 7540 },
    { talk = "npc_060", kill = "goblin", count = 10, reward = 5335 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(12040, 1)
end
