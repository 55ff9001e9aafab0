-- quest 008
quest = {
  id = 308,
  level = 40,
  steps = {
    { talk = "npc_065", kill = "golem", count = 11, reward = 3385 },
    { talk = "npc_021", kill = "harpy", count = 6, reward = 5320 },
    { talk = "npc_279", kill = "wolf", count = 7, reward = 6527 },
    { talk = "npc_185", kill = "slime", count = 19, reward = 4401 },
    { talk = "npc_063", kill = "drake", count = 9, reward = 2203 },
    { talk = "npc_221", kill = "golem", count = 20, reward = 2986 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(12165, 1)
end
