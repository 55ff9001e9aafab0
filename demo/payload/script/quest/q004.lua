-- quest 004
quest = {
  id = 304,
  level = 20,
  steps = {
    { talk = "npc_205", kill = "skeleton", count = 6, reward = 4430 },
    { talk = "npc_001", kill = "golem", count = 19, reward = 8703 },
    { talk = "npc_283", kill = "skeleton", count = 13, reward = 7801 },
    { talk = "npc_136", kill = "ogre", count = 10, reward = 3285 },
    { talk = "npc_201", kill = "skeleton", count = 20, reward = 6717 },
    { talk = "npc_286", kill = "drake", count = 6, reward = 8981 },
    { talk = "npc_132", kill = "goblin", count = 4, reward = 7619 },
    { talk = "npc_235", kill = "wolf", count = 14, reward = 2853 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(10735, 1)
end
