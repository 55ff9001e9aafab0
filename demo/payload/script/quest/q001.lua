-- quest 001
quest = {
  id = 301,
  level = 5,
  steps = {
    { talk = "npc_102", kill = "drake", count = 13, reward = 2891 },
    { talk = "npc_265", kill = "harpy", count = 14, reward = 1315 },
    { talk = "npc_099", kill = "slime", count = 15, reward = 5966 },
    { talk = "npc_189", kill = "golem", count = 10, reward = 3462 },
    { talk = "npc_231", kill = "slime", count = 6, reward = 2598 },
    { talk = "npc_230", kill = "slime", count = 9, reward = 2186 },
    { talk = "npc_101", kill = "wraith", count = 9, reward = 4432 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(10242, 1)
end
