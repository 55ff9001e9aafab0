-- quest 006
quest = {
  id = 306,
  level = 30,
  steps = {
    { talk = "npc_217", kill = "drake", count = 13, reward = 6539 },
    { talk = "npc_068", kill = "ogre", count = 9, reward = 545 },
    { talk = "npc_036", kill = "harpy", count = 13, reward = 1177 },
    { talk = "npc_084", kill = "slime", count = 9, reward = 8077 },
    { talk = "npc_030", kill = "wolf", count = 3, reward = 2471 },
    { talk = "npc_299", kill = "bat", count = 9, reward = 715 },
    { talk = "npc_200", kill = "golem", count = 6, reward = 3167 },
    { talk = "npc_146", kill = "wraith", count = 20, reward = 3792 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(12176, 1)
end
